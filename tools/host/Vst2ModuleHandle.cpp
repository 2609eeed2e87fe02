#include "Vst2ModuleHandle.h"

#include "SharedLibrary.h"

namespace host {

bool Vst2ModuleHandle::Load(const std::string& path, std::string& error) {
  Unload();
  library_ = library::Open(path);
  if (!library_) {
    error = "cannot load VST2 module '" + path + "': " + library::LastError();
    return false;
  }
  entry_ = reinterpret_cast<EntryProc>(library::Find(library_, "VSTPluginMain"));
  if (!entry_) {
    error = "'" + path + "' is not a VST2 module: it has no VSTPluginMain entry";
    return false;
  }
  return true;
}

void* Vst2ModuleHandle::Find(const char* name) const {
  return library_ ? library::Find(library_, name) : nullptr;
}

void Vst2ModuleHandle::Unload() {
  if (library_) library::Close(library_);
  library_ = nullptr;
  entry_ = nullptr;
}

}  // namespace host
