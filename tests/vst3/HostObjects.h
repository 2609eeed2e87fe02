// What a VST3 host brings to the plug-in, for the harness: the loaded module
// (dlopen, ModuleEntry, GetPluginFactory), a host context naming the host,
// parameter-change queues, byte streams (also truncated and lying ones), a
// component handler, and one plug-in instance seen through its interfaces.
// Only the module's exported entry points and the VST3 interfaces are used.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace host {

using namespace Steinberg;
using namespace Steinberg::Vst;

inline bool SameId(const void* a, const void* b) { return memcmp(a, b, sizeof(TUID)) == 0; }

inline std::string Narrow(const char16* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

inline void Widen(char16* out, const std::string& text) {
  for (size_t i = 0; i < text.size() && i < 127; ++i) out[i] = static_cast<char16>(text[i]);
  out[std::min<size_t>(text.size(), 127)] = 0;
}

// Host objects live on the test's stack; the counts show the plug-in
// released every reference it took.
#define HOST_REFCOUNT                                     \
  int refs = 0;                                           \
  uint32 PLUGIN_API addRef() override { return ++refs; }  \
  uint32 PLUGIN_API release() override { return --refs; }

#define HOST_QUERY(Interface)                                                   \
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
    // A host may hand a name of exactly 127 code units, not all ASCII.
    Widen(out, name);
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override {
    *obj = nullptr;
    return kNotImplemented;
  }
  HOST_QUERY(IHostApplication)
  HOST_REFCOUNT
};

struct ValueQueue : IParamValueQueue {
  ParamID id = 0;
  std::vector<std::pair<int32, ParamValue>> points;
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
  tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override {
    if (index < 0 || index >= getPointCount()) return kResultFalse;
    offset = points[index].first;
    value = points[index].second;
    return kResultOk;
  }
  tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override {
    index = getPointCount();
    points.emplace_back(offset, value);
    return kResultOk;
  }
  HOST_QUERY(IParamValueQueue)
  HOST_REFCOUNT
};

struct ParamChanges : IParameterChanges {
  std::vector<ValueQueue> queues;
  ParamChanges& Add(ParamID id, std::vector<ParamValue> values) {
    queues.emplace_back();
    queues.back().id = id;
    int32 offset = 0;
    for (ParamValue v : values) queues.back().points.emplace_back(offset++, v);
    return *this;
  }
  int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override {
    return index >= 0 && index < getParameterCount() ? &queues[index] : nullptr;
  }
  // Output changes: one queue per parameter, as hosts hand them out.
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
  const ValueQueue* Find(ParamID id) const {
    for (const ValueQueue& q : queues)
      if (q.id == id) return &q;
    return nullptr;
  }
  HOST_QUERY(IParameterChanges)
  HOST_REFCOUNT
};

// The host's side of edits and restarts: records what the plug-in reports.
// While `hostBusy` is set the host is inside its own call into the plug-in
// and holds its locks (Ardour does around setState): a call back into the
// host there would deadlock a real host, so it fails the test.
struct ComponentHandler : IComponentHandler {
  std::vector<int32> restarts;
  std::vector<std::pair<ParamID, ParamValue>> edits;
  bool hostBusy = false;
  tresult PLUGIN_API beginEdit(ParamID) override { return Reentered("beginEdit"); }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override {
    edits.emplace_back(id, value);
    return Reentered("performEdit");
  }
  tresult PLUGIN_API endEdit(ParamID) override { return Reentered("endEdit"); }
  tresult PLUGIN_API restartComponent(int32 flags) override {
    restarts.push_back(flags);
    return Reentered("restartComponent");
  }
  tresult Reentered(const char* call) {
    if (hostBusy) ADD_FAILURE() << call << " called back into the host from inside its own call";
    return kResultOk;
  }
  HOST_QUERY(IComponentHandler)
  HOST_REFCOUNT
};

// A byte stream. `deliverLimit` cuts what reads hand out (a truncated
// project); `overstateReads` reports more bytes read than asked for.
struct Stream : IBStream {
  std::vector<uint8_t> bytes;
  size_t position = 0;
  size_t deliverLimit = SIZE_MAX;
  bool overstateReads = false;

  tresult PLUGIN_API read(void* buffer, int32 count, int32* got) override {
    size_t left = std::min(bytes.size() - position, deliverLimit - std::min(deliverLimit, position));
    size_t n = std::min(left, static_cast<size_t>(std::max(count, 0)));
    if (n) memcpy(buffer, bytes.data() + position, n);
    position += n;
    if (got) *got = overstateReads ? count + 1000 : static_cast<int32>(n);
    return kResultOk;
  }
  tresult PLUGIN_API write(void* buffer, int32 count, int32* written) override {
    auto* p = static_cast<uint8_t*>(buffer);
    bytes.insert(bytes.end(), p, p + count);
    if (written) *written = count;
    return kResultOk;
  }
  tresult PLUGIN_API seek(int64 pos, int32, int64* result) override {
    position = static_cast<size_t>(pos);
    if (result) *result = pos;
    return kResultOk;
  }
  tresult PLUGIN_API tell(int64* pos) override {
    *pos = static_cast<int64>(position);
    return kResultOk;
  }
  HOST_QUERY(IBStream)
  HOST_REFCOUNT
};

// The loaded module and its factory, as a host holds them.
class Module {
 public:
  Module() {
    handle_ = dlopen(KESTRUNE_VST3_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle_, "ModuleEntry"));
    auto getFactory = reinterpret_cast<IPluginFactory* (*)()>(dlsym(handle_, "GetPluginFactory"));
    if (entry && entry(handle_) && getFactory) factory_ = getFactory();
  }
  ~Module() {
    if (factory_) {
      EXPECT_EQ(factory_->release(), 0u);
    }
    if (auto exit = reinterpret_cast<bool (*)()>(dlsym(handle_, "ModuleExit"))) exit();
    if (handle_) dlclose(handle_);
  }
  void* Handle() const { return handle_; }
  IPluginFactory* Factory() const { return factory_; }

 private:
  void* handle_ = nullptr;
  IPluginFactory* factory_ = nullptr;
};

inline const TUID& KestruneClassId() {
  static const TUID id = INLINE_UID(0xF2AEE70D, 0x00DE4F4E, 0x4D727764, 0x4B726E31);
  return id;
}

// One plug-in instance with the interfaces a DAW queries from it.
struct Plugin {
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;
  IUnitInfo* units = nullptr;

  explicit Plugin(IPluginFactory* factory) {
    void* obj = nullptr;
    if (factory->createInstance(KestruneClassId(), IComponent_iid, &obj) != kResultOk) return;
    component = static_cast<IComponent*>(obj);
    component->queryInterface(IAudioProcessor_iid, reinterpret_cast<void**>(&processor));
    component->queryInterface(IEditController_iid, reinterpret_cast<void**>(&controller));
    component->queryInterface(IUnitInfo_iid, reinterpret_cast<void**>(&units));
  }
  // Releases every interface; the last release must bring the count to 0.
  uint32 Release() {
    if (units) units->release();
    if (controller) controller->release();
    if (processor) processor->release();
    uint32 left = component ? component->release() : 0;
    component = nullptr;
    processor = nullptr;
    controller = nullptr;
    units = nullptr;
    return left;
  }
  ~Plugin() { Release(); }

  // The usual DAW sequence up to processing.
  void Start(FUnknown* context, double sampleRate, int32 maxBlock, int32 sampleSize = kSample32) {
    ASSERT_EQ(component->initialize(context), kResultOk);
    ASSERT_EQ(component->activateBus(kAudio, kInput, 0, true), kResultTrue);
    ASSERT_EQ(component->activateBus(kAudio, kOutput, 0, true), kResultTrue);
    ProcessSetup setup{kRealtime, sampleSize, maxBlock, sampleRate};
    ASSERT_EQ(processor->setupProcessing(setup), kResultOk);
    ASSERT_EQ(component->setActive(true), kResultOk);
  }

  std::vector<uint8_t> State() {
    Stream stream;
    EXPECT_EQ(controller->getState(&stream), kResultOk);
    return stream.bytes;
  }
};

}  // namespace host
