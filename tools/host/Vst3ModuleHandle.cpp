#include "Vst3ModuleHandle.h"

#include <dlfcn.h>

namespace host {

using namespace Steinberg;

bool Vst3ModuleHandle::Load(const std::string& binary, const std::string& path, std::string& error) {
  Unload();
  library_ = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    error = "cannot load VST3 module '" + path + "': " + dlerror();
    return false;
  }
  using FactoryProc = IPluginFactory* (PLUGIN_API*)();
  using EntryProc = bool (*)(void*);
  auto getFactory = reinterpret_cast<FactoryProc>(dlsym(library_, "GetPluginFactory"));
  if (!getFactory) {
    error = "'" + path + "' is not a VST3 module: it has no GetPluginFactory entry";
    return false;
  }
  if (auto entry = reinterpret_cast<EntryProc>(dlsym(library_, "ModuleEntry"))) {
    if (!entry(library_)) {
      error = "VST3 module '" + path + "' refused to start (ModuleEntry failed)";
      return false;
    }
    entered_ = true;
  }
  factory_ = getFactory();
  if (!factory_) {
    error = "VST3 module '" + path + "' returned no plug-in factory";
    return false;
  }
  return true;
}

uint32 Vst3ModuleHandle::Unload() {
  uint32 left = factory_ ? factory_->release() : 0;
  factory_ = nullptr;
  if (library_) {
    if (entered_) {
      if (auto exitProc = reinterpret_cast<bool (*)()>(dlsym(library_, "ModuleExit"))) exitProc();
    }
    dlclose(library_);
  }
  library_ = nullptr;
  entered_ = false;
  return left;
}

}  // namespace host
