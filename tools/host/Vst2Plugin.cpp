#include "Vst2Plugin.h"

#include <algorithm>
#include <cstring>

namespace host {
namespace {

using namespace vst2;

constexpr int32_t kOpcodeGetSampleRate = 16;  // audioMasterGetSampleRate
constexpr int32_t kOpcodeGetBlockSize = 17;   // audioMasterGetBlockSize
constexpr size_t kTextBytes = 256;            // the size hosts give for strings

Vst2HostCallback* gCurrent = nullptr;

}  // namespace

Vst2HostCallback* Vst2HostCallback::SetCurrent(Vst2HostCallback* host) {
  Vst2HostCallback* previous = gCurrent;
  gCurrent = host;
  return previous;
}

intptr_t VSTCALLBACK Vst2HostCallback::Callback(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt) {
  Vst2HostCallback* host =
      effect && effect->resvd1 ? reinterpret_cast<Vst2HostCallback*>(effect->resvd1) : gCurrent;
  return host ? host->Answer(effect, opcode, index, value, ptr, opt) : 0;
}

intptr_t Vst2HostCallback::Answer(AEffect* /*effect*/, int32_t opcode, int32_t /*index*/,
                                  intptr_t /*value*/, void* ptr, float /*opt*/) {
  auto copyText = [ptr](const std::string& text) -> intptr_t {
    if (text.empty() || !ptr) return 0;
    const size_t n = std::min(text.size(), kTextBytes - 1);
    memcpy(ptr, text.data(), n);
    static_cast<char*>(ptr)[n] = 0;
    return 1;
  };
  switch (opcode) {
    case audioMasterVersion:
      return kVstVersion;
    case audioMasterGetProductString:
      return copyText(product);
    case audioMasterGetVendorString:
      return copyText(vendor);
    case audioMasterGetVendorVersion:
      return vendorVersion;
    case audioMasterGetCurrentProcessLevel:
      return processLevel;
    case audioMasterGetTime:
      return reinterpret_cast<intptr_t>(Time());
    case kOpcodeGetSampleRate:
      return static_cast<intptr_t>(sampleRate);
    case kOpcodeGetBlockSize:
      return blockSize;
    default:
      return 0;
  }
}

bool Vst2Plugin::Create(EntryProc entry, Vst2HostCallback& host, bool claim, std::string& error) {
  Close();
  Vst2HostCallback* previous = Vst2HostCallback::SetCurrent(&host);
  AEffect* created = entry ? entry(&Vst2HostCallback::Callback) : nullptr;
  Vst2HostCallback::SetCurrent(previous);
  if (!created) {
    error = "VSTPluginMain returned no plug-in";
    return false;
  }
  if (created->magic != kEffectMagic) {
    error = "VSTPluginMain returned something that is not a VST2 plug-in";
    return false;
  }
  effect = created;
  if (claim) effect->resvd1 = reinterpret_cast<intptr_t>(&host);
  return true;
}

std::string Vst2Plugin::Text(int32_t opcode, int32_t index) {
  char text[kTextBytes] = {};
  Dispatch(opcode, index, 0, text);
  text[kTextBytes - 1] = 0;
  return text;
}

std::vector<uint8_t> Vst2Plugin::Chunk(int32_t index) {
  void* data = nullptr;
  const intptr_t size = Dispatch(effGetChunk, index, 0, &data);
  if (size <= 0 || !data) return {};
  const auto* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t Vst2Plugin::SetChunk(int32_t index, std::vector<uint8_t> bytes) {
  return Dispatch(effSetChunk, index, static_cast<intptr_t>(bytes.size()), bytes.data());
}

void Vst2Plugin::Start(float sampleRate, int blockSize) {
  Dispatch(effOpen);
  Dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
  Dispatch(effSetBlockSize, 0, blockSize);
  Dispatch(effMainsChanged, 0, 1);
}

void Vst2Plugin::StartProcess() {
  Dispatch(effMainsChanged, 0, 1);
  Dispatch(effStartProcess);
  processing_ = true;
}

void Vst2Plugin::Close() {
  if (!effect) return;
  if (processing_) {
    Dispatch(effStopProcess);
    Dispatch(effMainsChanged, 0, 0);
    processing_ = false;
  }
  Dispatch(effClose);
  effect = nullptr;
}

}  // namespace host
