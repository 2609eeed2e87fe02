#include "Vst2ModuleHandle.h"

#include <dlfcn.h>

namespace host {

bool Vst2ModuleHandle::Load(const std::string& path, std::string& error) {
  Unload();
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) {
    error = "cannot load VST2 module '" + path + "': " + dlerror();
    return false;
  }
  entry_ = reinterpret_cast<EntryProc>(dlsym(library_, "VSTPluginMain"));
  if (!entry_) {
    error = "'" + path + "' is not a VST2 module: it has no VSTPluginMain entry";
    return false;
  }
  return true;
}

void Vst2ModuleHandle::Unload() {
  if (library_) dlclose(library_);
  library_ = nullptr;
  entry_ = nullptr;
}

}  // namespace host
