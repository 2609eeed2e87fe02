// What the Windows test programs need to play host: a VST2 host (LoadLibrary,
// VSTPluginMain, a callback that records automation and gestures) and a VST3
// host (LoadLibrary, InitDll, GetPluginFactory, host context, component
// handler with context menus, plug frame, parameter queues).
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
#include "WineCheck.h"
#include "vst2/Vst2Abi.h"

namespace kestrune_wine {

// ---------------------------------------------------------------- VST2 host

struct HostEvent {
  enum Kind { Automate, Begin, End, Menu, SizeWindow } kind;  // SizeWindow: index x value
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

inline intptr_t VSTCALLBACK Vst2HostCallback(vst2::AEffect* effect, int32_t opcode, int32_t index,
                                            intptr_t value, void* ptr, float opt) {
  (void)value;
  switch (opcode) {
    case vst2::audioMasterVersion: return 2400;
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
    case vst2::audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "Wine Harness");
      return 1;
    case vst2::audioMasterGetVendorString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "Kestrune tests");
      return 1;
    case vst2::audioMasterGetVendorVersion: return 1;
    case vst2::audioMasterGetCurrentProcessLevel: return 1;
    default: return 0;
  }
}

class Vst2Module {
 public:
  explicit Vst2Module(const char* path) {
    handle_ = LoadLibraryA(path);
    if (handle_)
      main_ = reinterpret_cast<vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback)>(
          reinterpret_cast<void*>(GetProcAddress(handle_, "VSTPluginMain")));
  }
  ~Vst2Module() {
    if (handle_) FreeLibrary(handle_);
  }
  bool Loaded() const { return main_ != nullptr; }
  vst2::AEffect* Create() const { return main_ ? main_(Vst2HostCallback) : nullptr; }
  HMODULE Handle() const { return handle_; }

 private:
  HMODULE handle_ = nullptr;
  vst2::AEffect*(VSTCALLBACK* main_)(vst2::audioMasterCallback) = nullptr;
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

// Host objects live as long as the program; reference counts are only counted.
template <typename... Interfaces>
struct HostObject : Interfaces... {
  int refs = 1;
  uint32 PLUGIN_API addRef() override { return static_cast<uint32>(++refs); }
  uint32 PLUGIN_API release() override { return static_cast<uint32>(--refs); }
};

struct HostApplication : HostObject<IHostApplication> {
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (FUnknownPrivate::iidEqual(iid, IHostApplication::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IHostApplication*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  tresult PLUGIN_API getName(String128 name) override {
    const char* text = "Wine Harness";
    for (int i = 0; i < 128; ++i) {
      name[i] = static_cast<char16>(text[i]);
      if (!text[i]) break;
    }
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override {
    *obj = nullptr;
    return kResultFalse;
  }
};

struct ContextMenu : HostObject<IContextMenu> {
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (FUnknownPrivate::iidEqual(iid, IContextMenu::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IContextMenu*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  int32 PLUGIN_API getItemCount() override { return 0; }
  tresult PLUGIN_API getItem(int32, Item&, IContextMenuTarget**) override { return kResultFalse; }
  tresult PLUGIN_API addItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API popup(UCoord x, UCoord y) override {
    popups.push_back({x, y});
    return kResultOk;
  }
  std::vector<std::pair<int, int>> popups;
};

struct ComponentHandler : HostObject<IComponentHandler, IComponentHandler3> {
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (FUnknownPrivate::iidEqual(iid, IComponentHandler::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IComponentHandler*>(this);
      return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, IComponentHandler3::iid)) {
      addRef();
      *obj = static_cast<IComponentHandler3*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  tresult PLUGIN_API beginEdit(ParamID id) override {
    HostEvents().push_back({HostEvent::Begin, this, static_cast<int>(id), 0});
    return kResultOk;
  }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override {
    HostEvents().push_back({HostEvent::Automate, this, static_cast<int>(id), value});
    return kResultOk;
  }
  tresult PLUGIN_API endEdit(ParamID id) override {
    HostEvents().push_back({HostEvent::End, this, static_cast<int>(id), 0});
    return kResultOk;
  }
  tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
  IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* paramId) override {
    HostEvents().push_back({HostEvent::Menu, this, paramId ? static_cast<int>(*paramId) : -1, 0});
    menuView = view;
    menu.addRef();
    return &menu;
  }
  ContextMenu menu;
  IPlugView* menuView = nullptr;
};

struct PlugFrame : HostObject<IPlugFrame> {
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IPlugFrame*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override {
    ++resizes;
    if (view && newSize) view->onSize(newSize);
    return kResultOk;
  }
  int resizes = 0;
};

struct ValueQueue : HostObject<IParamValueQueue> {
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
    *obj = nullptr;
    return kNoInterface;
  }
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return 1; }
  tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& v) override {
    if (index != 0) return kResultFalse;
    sampleOffset = 0;
    v = value;
    return kResultOk;
  }
  tresult PLUGIN_API addPoint(int32, ParamValue, int32&) override { return kResultFalse; }
  ParamID id = 0;
  ParamValue value = 0;
};

struct ParamChanges : HostObject<IParameterChanges> {
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override {
    *obj = nullptr;
    return kNoInterface;
  }
  int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override {
    return index >= 0 && index < getParameterCount() ? &queues[static_cast<size_t>(index)] : nullptr;
  }
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID&, int32&) override { return nullptr; }
  void Add(ParamID id, ParamValue value) {
    queues.emplace_back();
    queues.back().id = id;
    queues.back().value = value;
  }
  std::vector<ValueQueue> queues;
};

class Vst3Module {
 public:
  explicit Vst3Module(const char* path) {
    handle_ = LoadLibraryA(path);
    if (!handle_) return;
    auto init = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(handle_, "InitDll")));
    auto getFactory = reinterpret_cast<IPluginFactory* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(handle_, "GetPluginFactory")));
    if (init && init() && getFactory) factory_ = getFactory();
  }
  ~Vst3Module() {
    if (factory_) factory_->release();
    if (handle_) {
      auto exitDll = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(handle_, "ExitDll")));
      if (exitDll) exitDll();
      FreeLibrary(handle_);
    }
  }
  IPluginFactory* Factory() const { return factory_; }

 private:
  HMODULE handle_ = nullptr;
  IPluginFactory* factory_ = nullptr;
};

// One VST3 instance with the interfaces a DAW takes from it.
struct Vst3Plugin {
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;

  Vst3Plugin(IPluginFactory* factory, HostApplication* host, ComponentHandler* handler) {
    if (!factory) return;
    PClassInfo info;
    if (factory->countClasses() < 1 || factory->getClassInfo(0, &info) != kResultOk) return;
    if (factory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&component)) !=
            kResultOk ||
        !component)
      return;
    component->initialize(host);
    component->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&processor));
    component->queryInterface(IEditController::iid, reinterpret_cast<void**>(&controller));
    if (controller && handler) controller->setComponentHandler(handler);
  }
  ~Vst3Plugin() {
    if (processor) processor->release();
    if (controller) {
      controller->setComponentHandler(nullptr);
      controller->release();
    }
    if (component) {
      component->terminate();
      component->release();
    }
  }
  bool Valid() const { return component && processor && controller; }

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
