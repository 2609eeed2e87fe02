#include "ScriptedHost.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "Vst2ModuleHandle.h"

namespace {
ScriptedHost* gActiveHost = nullptr;
}

ScriptedHost::ScriptedHost() : previous_(gActiveHost) { gActiveHost = this; }

ScriptedHost::~ScriptedHost() { gActiveHost = previous_; }

intptr_t VSTCALLBACK ScriptedHost::Callback(vst2::AEffect* /*effect*/, int32_t opcode,
                                            int32_t index, intptr_t value, void* ptr, float opt) {
  if (!gActiveHost) return 0;
  return gActiveHost->Answer(opcode, index, value, ptr, opt);
}

intptr_t ScriptedHost::Answer(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                              float opt) {
  HostCall call;
  call.opcode = opcode;
  call.index = index;
  call.value = value;
  call.opt = opt;
  if (opcode == vst2::audioMasterProcessEvents && ptr) {
    const auto* events = static_cast<const vst2::VstEvents*>(ptr);
    if (events->numEvents > 0 && events->events[0]) {
      const vst2::VstEvent* event = events->events[0];
      call.eventType = event->type;
      call.deltaFrames = event->deltaFrames;
      if (event->type == vst2::kVstMidiType) {
        const auto* midi = reinterpret_cast<const vst2::VstMidiEvent*>(event);
        for (int i = 0; i < 3; ++i) call.midi.push_back(static_cast<uint8_t>(midi->midiData[i]));
      } else if (event->type == vst2::kVstSysExType) {
        const auto* sysex = reinterpret_cast<const vst2::VstMidiSysexEvent*>(event);
        call.dumpBytes = sysex->dumpBytes;
        call.midi.assign(sysex->sysexDump, sysex->sysexDump + sysex->dumpBytes);
      }
    }
  }
  calls.push_back(call);

  switch (opcode) {
    case vst2::audioMasterVersion:
      return 2400;
    case vst2::audioMasterGetProductString:
      if (fillProductUnterminated)
        memset(ptr, 'x', 256);
      else
        strcpy(static_cast<char*>(ptr), product.c_str());
      return 1;
    case vst2::audioMasterGetVendorVersion:
      return vendorVersion;
    case vst2::audioMasterGetCurrentProcessLevel:
      return processLevel;
    case vst2::audioMasterGetTime:
      return hasTime ? reinterpret_cast<intptr_t>(&time) : 0;
    case vst2::audioMasterProcessEvents:
      return eventsAnswer;
    default:
      return 0;
  }
}

int ScriptedHost::CountOf(int32_t opcode) const {
  int n = 0;
  for (const HostCall& c : calls) n += c.opcode == opcode ? 1 : 0;
  return n;
}

const HostCall* ScriptedHost::Last(int32_t opcode) const {
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    if (it->opcode == opcode) return &*it;
  return nullptr;
}

Vst2Module& Vst2Module::Get() {
  static Vst2Module module = [] {
    // Kept loaded for the whole program, as hosts keep a module.
    static host::Vst2ModuleHandle library;
    std::string error;
    if (!library.Load(KESTRUNE_VST2_MODULE, error)) throw std::runtime_error(error);
    Vst2Module m;
    m.handle = library.Handle();
    m.pluginMain = library.Entry();
    m.legacyMain = reinterpret_cast<EntryProc>(dlsym(m.handle, "main"));
    return m;
  }();
  return module;
}

PluginInstance::PluginInstance(ScriptedHost& /*host*/) {
  effect = Vst2Module::Get().pluginMain(&ScriptedHost::Callback);
  if (!effect) throw std::runtime_error("VSTPluginMain returned no effect");
}

PluginInstance::~PluginInstance() { Close(); }

intptr_t PluginInstance::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt) {
  return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void PluginInstance::Start(float sampleRate, int blockSize) {
  Dispatch(vst2::effOpen);
  Dispatch(vst2::effSetSampleRate, 0, 0, nullptr, sampleRate);
  Dispatch(vst2::effSetBlockSize, 0, blockSize);
  Dispatch(vst2::effMainsChanged, 0, 1);
}

void PluginInstance::Close() {
  if (!effect) return;
  Dispatch(vst2::effClose);
  effect = nullptr;
}
