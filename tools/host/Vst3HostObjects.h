// The objects a VST3 host hands to a plug-in: a host context naming the
// host, a component handler that keeps what the plug-in reports, byte
// streams, and parameter-change queues. Only the VST3 interface headers are
// used. The objects live as long as their owner: reference counts are kept
// (and readable, so a caller can see that the plug-in released every
// reference it took) but never delete.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

namespace host {

using namespace Steinberg;
using namespace Steinberg::Vst;

inline bool SameId(const void* a, const void* b) { return memcmp(a, b, sizeof(TUID)) == 0; }

// Code units below 0x80 only, which is all a host puts into these texts.
inline std::string Narrow(const char16* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}
inline void Widen(char16* out, const std::string& text) {
  const size_t n = std::min<size_t>(text.size(), 127);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
  out[n] = 0;
}

// A reference count that may be taken on any thread. A copy (a queue
// moving inside its list) starts with no references.
struct RefCount {
  std::atomic<int32> count{0};
  RefCount() = default;
  RefCount(const RefCount&) {}
  RefCount& operator=(const RefCount&) { return *this; }
  operator int32() const { return count.load(); }
  int32 operator++() { return ++count; }
  int32 operator--() { return --count; }
};

// Counted, never deleting; `refs` is what the plug-in still holds.
#define KESTRUNE_HOST_REFCOUNT                                  \
  RefCount refs;                                                \
  uint32 PLUGIN_API addRef() override { return ++refs; }        \
  uint32 PLUGIN_API release() override { return --refs; }

#define KESTRUNE_HOST_QUERY(Interface)                                          \
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {      \
    if (SameId(iid, FUnknown_iid) || SameId(iid, Interface##_iid)) {            \
      addRef();                                                                 \
      *obj = static_cast<Interface*>(this);                                     \
      return kResultOk;                                                         \
    }                                                                           \
    *obj = nullptr;                                                             \
    return kNoInterface;                                                        \
  }

struct HostApplication : IHostApplication {
  explicit HostApplication(std::string n) : name(std::move(n)) {}
  std::string name;
  tresult PLUGIN_API getName(String128 out) override {
    Widen(out, name);
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override {
    *obj = nullptr;
    return kResultFalse;
  }
  KESTRUNE_HOST_QUERY(IHostApplication)
  KESTRUNE_HOST_REFCOUNT
};

// Keeps the edits and restart requests the plug-in reports; Called() sees
// every call first, for a host that checks when they arrive.
struct ComponentHandler : IComponentHandler {
  std::vector<int32> restarts;
  std::vector<std::pair<ParamID, ParamValue>> edits;
  virtual ~ComponentHandler() = default;
  virtual tresult Called(const char* call) {
    (void)call;
    return kResultOk;
  }
  tresult PLUGIN_API beginEdit(ParamID) override { return Called("beginEdit"); }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override {
    edits.emplace_back(id, value);
    return Called("performEdit");
  }
  tresult PLUGIN_API endEdit(ParamID) override { return Called("endEdit"); }
  tresult PLUGIN_API restartComponent(int32 flags) override {
    restarts.push_back(flags);
    return Called("restartComponent");
  }
  KESTRUNE_HOST_QUERY(IComponentHandler)
  KESTRUNE_HOST_REFCOUNT
};

// A byte stream in memory: reads stop at the end (a short read is
// kResultFalse), writes at the position grow it.
struct MemoryStream : IBStream {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  MemoryStream() = default;
  explicit MemoryStream(std::vector<uint8_t> content) : bytes(std::move(content)) {}
  virtual ~MemoryStream() = default;

  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override {
    if (numBytesRead) *numBytesRead = 0;
    if (!buffer || numBytes < 0) return kInvalidArgument;
    size_t available = position < bytes.size() ? bytes.size() - position : 0;
    size_t count = std::min(available, static_cast<size_t>(numBytes));
    if (count) memcpy(buffer, bytes.data() + position, count);
    position += count;
    if (numBytesRead) *numBytesRead = static_cast<int32>(count);
    return count == static_cast<size_t>(numBytes) ? kResultOk : kResultFalse;
  }
  tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override {
    if (numBytesWritten) *numBytesWritten = 0;
    if (!buffer || numBytes < 0) return kInvalidArgument;
    if (position + static_cast<size_t>(numBytes) > bytes.size()) {
      bytes.resize(position + static_cast<size_t>(numBytes));
    }
    memcpy(bytes.data() + position, buffer, static_cast<size_t>(numBytes));
    position += static_cast<size_t>(numBytes);
    if (numBytesWritten) *numBytesWritten = numBytes;
    return kResultOk;
  }
  tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override {
    int64 base = mode == kIBSeekCur ? static_cast<int64>(position)
                 : mode == kIBSeekEnd ? static_cast<int64>(bytes.size())
                                      : 0;
    int64 target = base + pos;
    if (target < 0) return kInvalidArgument;
    position = static_cast<size_t>(target);
    if (result) *result = target;
    return kResultOk;
  }
  tresult PLUGIN_API tell(int64* pos) override {
    if (!pos) return kInvalidArgument;
    *pos = static_cast<int64>(position);
    return kResultOk;
  }
  KESTRUNE_HOST_QUERY(IBStream)
  KESTRUNE_HOST_REFCOUNT
};

// One parameter's points for one block.
struct ValueQueue final : IParamValueQueue {
  ParamID id = 0;
  std::vector<std::pair<int32, ParamValue>> points;
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
  tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override {
    if (index < 0 || index >= getPointCount()) return kResultFalse;
    offset = points[static_cast<size_t>(index)].first;
    value = points[static_cast<size_t>(index)].second;
    return kResultOk;
  }
  tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override {
    index = getPointCount();
    points.emplace_back(offset, value);
    return kResultOk;
  }
  KESTRUNE_HOST_QUERY(IParamValueQueue)
  KESTRUNE_HOST_REFCOUNT
};

// A block's parameter changes: the host's input, or what the plug-in
// hands back as output (one queue per parameter).
struct ParamChanges : IParameterChanges {
  std::vector<ValueQueue> queues;
  // One queue of `values` at offsets 0, 1, 2...
  ParamChanges& Add(ParamID id, std::vector<ParamValue> values) {
    queues.emplace_back();
    queues.back().id = id;
    int32 offset = 0;
    for (ParamValue v : values) queues.back().points.emplace_back(offset++, v);
    return *this;
  }
  // One point at offset 0, replacing any earlier pending value of `id`.
  void Set(ParamID id, ParamValue value) {
    int32 index = 0;
    static_cast<ValueQueue*>(addParameterData(id, index))->points.assign(1, {0, value});
  }
  void Clear() { queues.clear(); }
  bool Empty() const { return queues.empty(); }
  const ValueQueue* Find(ParamID id) const {
    for (const ValueQueue& q : queues)
      if (q.id == id) return &q;
    return nullptr;
  }
  int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override {
    return index >= 0 && index < getParameterCount() ? &queues[static_cast<size_t>(index)] : nullptr;
  }
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override {
    for (size_t i = 0; i < queues.size(); ++i)
      if (queues[i].id == id) {
        index = static_cast<int32>(i);
        return &queues[i];
      }
    index = getParameterCount();
    queues.emplace_back();
    queues.back().id = id;
    return &queues.back();
  }
  KESTRUNE_HOST_QUERY(IParameterChanges)
  KESTRUNE_HOST_REFCOUNT
};

// The audio buffers of one direction of process(): per bus, its channels'
// samples and the AudioBusBuffers that point at them. Shape() allocates
// (outside the audio path); the buffers then stay put until the next Shape().
template <typename Sample>
struct BusBuffers {
  std::vector<std::vector<std::vector<Sample>>> samples;  // bus, channel, frame
  std::vector<std::vector<Sample*>> pointers;
  std::vector<AudioBusBuffers> buffers;

  void Shape(const std::vector<int32>& channelsPerBus, int32 frames) {
    const size_t count = channelsPerBus.size();
    samples.assign(count, {});
    pointers.assign(count, {});
    buffers.assign(count, AudioBusBuffers{});
    for (size_t b = 0; b < count; ++b) {
      const int32 channels = std::max(channelsPerBus[b], 0);
      samples[b].assign(static_cast<size_t>(channels),
                        std::vector<Sample>(static_cast<size_t>(std::max(frames, 0)), Sample(0)));
      for (auto& channel : samples[b]) pointers[b].push_back(channel.data());
      buffers[b].numChannels = channels;
      if constexpr (sizeof(Sample) == 8) buffers[b].channelBuffers64 = pointers[b].data();
      else buffers[b].channelBuffers32 = pointers[b].data();
    }
  }
  int32 Count() const { return static_cast<int32>(buffers.size()); }
  AudioBusBuffers* Data() { return buffers.empty() ? nullptr : buffers.data(); }
};

// One block's ProcessData over `inputs` and `outputs`, with the sample size
// their type gives.
template <typename Sample>
ProcessData BlockData(int32 processMode, int32 frames, BusBuffers<Sample>& inputs,
                      BusBuffers<Sample>& outputs, IParameterChanges* changes = nullptr,
                      ProcessContext* context = nullptr) {
  ProcessData data{};
  data.processMode = processMode;
  data.symbolicSampleSize = sizeof(Sample) == 8 ? kSample64 : kSample32;
  data.numSamples = frames;
  data.numInputs = inputs.Count();
  data.inputs = inputs.Data();
  data.numOutputs = outputs.Count();
  data.outputs = outputs.Data();
  data.inputParameterChanges = changes;
  data.processContext = context;
  return data;
}

}  // namespace host
