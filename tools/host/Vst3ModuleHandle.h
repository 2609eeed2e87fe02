// A VST3 module as a host holds it: the shared library, entered through
// ModuleEntry when it exports one, and its plug-in factory. Unloading
// releases the factory, calls ModuleExit and closes the library, in that
// order.
#pragma once

#include <string>

#include "pluginterfaces/base/ipluginbase.h"

namespace host {

class Vst3ModuleHandle {
 public:
  Vst3ModuleHandle() = default;
  Vst3ModuleHandle(const Vst3ModuleHandle&) = delete;
  Vst3ModuleHandle& operator=(const Vst3ModuleHandle&) = delete;
  ~Vst3ModuleHandle() { Unload(); }

  // Loads the shared library `binary`; errors name the module `path`.
  bool Load(const std::string& binary, const std::string& path, std::string& error);
  // What the factory's reference count dropped to on its release (0 when
  // the module held on to nothing), or 0 when nothing was loaded.
  Steinberg::uint32 Unload();

  void* Handle() const { return library_; }
  Steinberg::IPluginFactory* Factory() const { return factory_; }

 private:
  void* library_ = nullptr;
  bool entered_ = false;
  Steinberg::IPluginFactory* factory_ = nullptr;
};

}  // namespace host
