// One VST3 plug-in instance as a DAW holds it: created from the module's
// factory, seen through IComponent, IAudioProcessor and IEditController
// (Kestrune is one object that is both processor and controller) and, where
// offered, IUnitInfo. Used by the render tool's host, the unit tests, the
// fuzz targets and the Windows tests.
#pragma once

#include <string>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace host {

class Vst3Instance {
 public:
  Steinberg::Vst::IComponent* component = nullptr;
  Steinberg::Vst::IAudioProcessor* processor = nullptr;
  Steinberg::Vst::IEditController* controller = nullptr;
  Steinberg::Vst::IUnitInfo* units = nullptr;  // null when not offered

  Vst3Instance() = default;
  Vst3Instance(const Vst3Instance&) = delete;
  Vst3Instance& operator=(const Vst3Instance&) = delete;
  ~Vst3Instance() { Release(); }

  // Creates class `cid` and takes its interfaces; false with `error` (which
  // names the plug-in `what`) when the factory cannot create it or it is no
  // processor and controller. Nothing is initialised yet.
  bool Create(Steinberg::IPluginFactory* factory, const Steinberg::TUID cid, const std::string& what,
              std::string& error) {
    Release();
    void* object = nullptr;
    if (!factory || factory->createInstance(cid, Steinberg::Vst::IComponent_iid, &object) != Steinberg::kResultOk ||
        !object) {
      error = "could not create " + what;
      return false;
    }
    component = static_cast<Steinberg::Vst::IComponent*>(object);
    if (component->queryInterface(Steinberg::Vst::IAudioProcessor_iid, &object) == Steinberg::kResultOk)
      processor = static_cast<Steinberg::Vst::IAudioProcessor*>(object);
    if (component->queryInterface(Steinberg::Vst::IEditController_iid, &object) == Steinberg::kResultOk)
      controller = static_cast<Steinberg::Vst::IEditController*>(object);
    if (component->queryInterface(Steinberg::Vst::IUnitInfo_iid, &object) == Steinberg::kResultOk)
      units = static_cast<Steinberg::Vst::IUnitInfo*>(object);
    if (!processor) error = what + " is not an audio processor";
    else if (!controller) error = what + " has no edit controller";
    return Valid();
  }
  // The factory's first class.
  bool CreateFirst(Steinberg::IPluginFactory* factory, std::string& error) {
    Steinberg::PClassInfo info;
    if (!factory || factory->countClasses() < 1 || factory->getClassInfo(0, &info) != Steinberg::kResultOk) {
      error = "the factory offers no class";
      return false;
    }
    return Create(factory, info.cid, "the factory's first class", error);
  }
  // initialize() with the host's context, then `handler` on the controller;
  // Release() undoes both.
  bool Initialize(Steinberg::FUnknown* context, Steinberg::Vst::IComponentHandler* handler, std::string& error) {
    if (!Valid() || component->initialize(context) != Steinberg::kResultOk) {
      error = "the plug-in failed to initialise";
      return false;
    }
    initialized_ = true;
    if (handler) controller->setComponentHandler(handler);
    handlerSet_ = handler != nullptr;
    return true;
  }
  bool Valid() const { return component && processor && controller; }

  // Drops the handler, terminates what Initialize() initialised and
  // releases every interface; returns what the last release left (0 when
  // the plug-in kept no reference of its own).
  Steinberg::uint32 Release() {
    if (controller && handlerSet_) controller->setComponentHandler(nullptr);
    if (units) units->release();
    if (controller) controller->release();
    if (processor) processor->release();
    if (component && initialized_) component->terminate();
    const Steinberg::uint32 left = component ? component->release() : 0;
    component = nullptr;
    processor = nullptr;
    controller = nullptr;
    units = nullptr;
    initialized_ = handlerSet_ = false;
    return left;
  }

 private:
  bool initialized_ = false;
  bool handlerSet_ = false;
};

}  // namespace host
