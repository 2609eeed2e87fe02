// What the Windows test programs need to play host, on the host library: a
// VST2 host (its module handle, a callback that records automation and
// gestures) and a VST3 host (its module handle, instance, host context,
// component handler and parameter queues).
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"
#include "Vst2ModuleHandle.h"
#include "Vst2Plugin.h"
#include "Vst3EditorHostObjects.h"
#include "Vst3HostObjects.h"
#include "Vst3Instance.h"
#include "Vst3ModuleHandle.h"
#include "WineCheck.h"
#include "vst2/Vst2Abi.h"

namespace kestrune_wine {

// ---------------------------------------------------------------- VST2 host

struct HostEvent {
  enum Kind { Automate, Begin, End, SizeWindow } kind;  // SizeWindow: index x value
  const void* instance;  // AEffect* or the VST3 controller
  int index;
  double value;
};

inline std::vector<HostEvent>& HostEvents() {
  static std::vector<HostEvent> events;
  return events;
}

inline int CountEvents(HostEvent::Kind kind, const void* instance, int index) {
  int n = 0;
  for (const HostEvent& e : HostEvents())
    if (e.kind == kind && e.instance == instance && e.index == index) ++n;
  return n;
}

// The VST2 host's callback: the library's answers, with automation, edit
// gestures and window sizes recorded. Current for the program's lifetime.
struct WineVst2Host : host::Vst2HostCallback {
  WineVst2Host() {
    product = "Wine Harness";
    vendor = "Kestrune tests";
    vendorVersion = 1;
    processLevel = 1;
    SetCurrent(this);
  }
  intptr_t Answer(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                  float opt) override {
    switch (opcode) {
      case vst2::audioMasterAutomate:
        HostEvents().push_back({HostEvent::Automate, effect, index, static_cast<double>(opt)});
        return 0;
      case vst2::audioMasterBeginEdit:
        HostEvents().push_back({HostEvent::Begin, effect, index, 0});
        return 1;
      case vst2::audioMasterEndEdit:
        HostEvents().push_back({HostEvent::End, effect, index, 0});
        return 1;
      case vst2::audioMasterSizeWindow:
        HostEvents().push_back({HostEvent::SizeWindow, effect, index, static_cast<double>(value)});
        return 1;
      default:
        return Vst2HostCallback::Answer(effect, opcode, index, value, ptr, opt);
    }
  }
};

class Vst2Module {
 public:
  explicit Vst2Module(const char* path) {
    std::string error;
    if (!library_.Load(path, error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
  bool Loaded() const { return library_.Entry() != nullptr; }
  vst2::AEffect* Create() const {
    static WineVst2Host recorder;
    return Loaded() ? library_.Entry()(&host::Vst2HostCallback::Callback) : nullptr;
  }
  HMODULE Handle() const { return static_cast<HMODULE>(library_.Handle()); }

 private:
  host::Vst2ModuleHandle library_;
};

inline intptr_t Dispatch(vst2::AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

// effOpen, rate, block size, mains on.
inline void StartVst2(vst2::AEffect* e, float sampleRate, int blockSize) {
  Dispatch(e, vst2::effOpen);
  Dispatch(e, vst2::effSetSampleRate, 0, 0, nullptr, sampleRate);
  Dispatch(e, vst2::effSetBlockSize, 0, blockSize);
  Dispatch(e, vst2::effMainsChanged, 0, 1);
}

// ---------------------------------------------------------------- VST3 host

using namespace Steinberg;
using namespace Steinberg::Vst;

struct HostApplication : host::HostApplication {
  HostApplication() : host::HostApplication("Wine Harness") {}
};

using ComponentHandler = host::EditorComponentHandler;
using host::ParamChanges;

class Vst3Module {
 public:
  explicit Vst3Module(const char* path) {
    std::string error;
    if (!module_.Load(path, path, error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
  IPluginFactory* Factory() const { return module_.Factory(); }

 private:
  host::Vst3ModuleHandle module_;
};

// The factory's first class on the host library's instance, initialised
// with the host's context and component handler.
struct Vst3Plugin : host::Vst3Instance {
  Vst3Plugin(IPluginFactory* factory, HostApplication* host, IComponentHandler* handler) {
    std::string error;
    if (!CreateFirst(factory, error) || !Initialize(host, handler, error)) std::fprintf(stderr, "%s\n", error.c_str());
  }

  // Stereo main and sidechain in, stereo out, 64-bit samples; active.
  bool Start(double sampleRate, int maxBlock) {
    SpeakerArrangement ins[2] = {SpeakerArr::kStereo, SpeakerArr::kStereo};
    SpeakerArrangement outs[1] = {SpeakerArr::kStereo};
    if (processor->setBusArrangements(ins, 2, outs, 1) != kResultOk) return false;
    ActivateBuses();
    ProcessSetup setup = {kRealtime, kSample64, maxBlock, sampleRate};
    if (processor->setupProcessing(setup) != kResultOk) return false;
    component->setActive(true);
    processor->setProcessing(true);
    return true;
  }
  void ActivateBuses() {
    component->activateBus(kAudio, kInput, 0, true);
    component->activateBus(kAudio, kInput, 1, true);
    component->activateBus(kAudio, kOutput, 0, true);
  }
  void Reset(double sampleRate, int maxBlock) {
    processor->setProcessing(false);
    component->setActive(false);
    ProcessSetup setup = {kRealtime, kSample64, maxBlock, sampleRate};
    processor->setupProcessing(setup);
    component->setActive(true);
    processor->setProcessing(true);
  }
  tresult Process(const double* const* in4, double* const* out2, int frames,
                  IParameterChanges* changes) {
    AudioBusBuffers inputs[2];
    inputs[0].numChannels = 2;
    inputs[0].channelBuffers64 = const_cast<double**>(in4);
    inputs[1].numChannels = 2;
    inputs[1].channelBuffers64 = const_cast<double**>(in4 + 2);
    AudioBusBuffers outputs[1];
    outputs[0].numChannels = 2;
    outputs[0].channelBuffers64 = const_cast<double**>(out2);
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample64;
    data.numSamples = frames;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = outputs;
    data.inputParameterChanges = changes;
    return processor->process(data);
  }
};

}  // namespace kestrune_wine
