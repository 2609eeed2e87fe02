#include "Vst3ModuleHandle.h"

#include "SharedLibrary.h"

namespace host {

using namespace Steinberg;

bool Vst3ModuleHandle::Load(const std::string& binary, const std::string& path, std::string& error) {
  Unload();
  library_ = library::Open(binary);
  if (!library_) {
    error = "cannot load VST3 module '" + path + "': " + library::LastError();
    return false;
  }
  using FactoryProc = IPluginFactory* (PLUGIN_API*)();
  auto getFactory = reinterpret_cast<FactoryProc>(library::Find(library_, "GetPluginFactory"));
  if (!getFactory) {
    error = "'" + path + "' is not a VST3 module: it has no GetPluginFactory entry";
    return false;
  }
  // The module's own start: ModuleEntry(handle) on Linux, InitDll() on Windows.
#ifdef _WIN32
  auto entry = reinterpret_cast<bool (*)()>(library::Find(library_, "InitDll"));
  const bool started = !entry || entry();
#else
  auto entry = reinterpret_cast<bool (*)(void*)>(library::Find(library_, "ModuleEntry"));
  const bool started = !entry || entry(library_);
#endif
  if (!started) {
    error = "VST3 module '" + path + "' refused to start (its entry failed)";
    return false;
  }
  entered_ = entry != nullptr;
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
#ifdef _WIN32
      const char* exitName = "ExitDll";
#else
      const char* exitName = "ModuleExit";
#endif
      if (auto exitProc = reinterpret_cast<bool (*)()>(library::Find(library_, exitName))) exitProc();
    }
    library::Close(library_);
  }
  library_ = nullptr;
  entered_ = false;
  return left;
}

}  // namespace host
