// What a VST3 host brings to the plug-in, for the harness: the host library's
// objects (Vst3HostObjects.h) with a byte stream that can also be truncated or
// lie, a component handler that fails a test when the plug-in calls back at
// the wrong time, the loaded module (dlopen, ModuleEntry, GetPluginFactory)
// and one plug-in instance seen through its interfaces. Only the module's
// exported entry points and the VST3 interfaces are used.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Vst3HostObjects.h"
#include "Vst3Instance.h"
#include "Vst3ModuleHandle.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace host {

// The module's own parameter IDs the tests address directly.
constexpr ParamID kBypass = 0x62706173;  // 'bpas'
constexpr ParamID kPreset = 0x70727374;  // 'prst'

// While `hostBusy` is set the host is inside its own call into the plug-in
// and holds its locks (Ardour does around setState): a call back into the
// host there would deadlock a real host, so it fails the test.
struct GuardedHandler : ComponentHandler {
  bool hostBusy = false;
  tresult Called(const char* call) override {
    if (hostBusy) ADD_FAILURE() << call << " called back into the host from inside its own call";
    return kResultOk;
  }
};

// A memory stream whose reads can fail as a project file does:
// `deliverLimit` cuts what reads hand out (a truncated project);
// `overstateReads` reports more bytes read than asked for.
struct Stream : MemoryStream {
  size_t deliverLimit = SIZE_MAX;
  bool overstateReads = false;
  tresult PLUGIN_API read(void* buffer, int32 count, int32* got) override {
    size_t end = std::min(bytes.size(), deliverLimit);
    size_t left = position < end ? end - position : 0;
    size_t n = std::min(left, static_cast<size_t>(std::max(count, 0)));
    if (n) memcpy(buffer, bytes.data() + position, n);
    position += n;
    if (got) *got = overstateReads ? count + 1000 : static_cast<int32>(n);
    return kResultOk;
  }
};

// The built module, loaded as a host loads it; unloading checks that the
// plug-in gave back every reference to its factory.
class Module {
 public:
  Module() {
    std::string error;
    // Factory() stays null, which every user checks; the fuzz targets
    // share this and have no test framework to report to.
    if (!module_.Load(KESTRUNE_VST3_MODULE, KESTRUNE_VST3_MODULE, error)) fprintf(stderr, "%s\n", error.c_str());
  }
  ~Module() {
    if (module_.Factory()) {
      EXPECT_EQ(module_.Unload(), 0u);
    }
  }
  void* Handle() const { return module_.Handle(); }
  IPluginFactory* Factory() const { return module_.Factory(); }

 private:
  Vst3ModuleHandle module_;
};

inline const TUID& KestruneClassId() {
  static const TUID id = INLINE_UID(0xF2AEE70D, 0x00DE4F4E, 0x4D727764, 0x4B726E31);
  return id;
}

// One plug-in instance of the Kestrune class, on the host library's
// instance; releasing it must bring the count to 0.
struct Plugin : Vst3Instance {
  explicit Plugin(IPluginFactory* factory) {
    std::string error;
    Create(factory, KestruneClassId(), "Kestrune", error);
  }

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
