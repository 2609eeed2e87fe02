// A VST2 module as a host holds it: the shared library and its
// VSTPluginMain entry, which creates one plug-in per call.
#pragma once

#include <string>

#include "vst2/Vst2Abi.h"

namespace host {

class Vst2ModuleHandle {
 public:
  using EntryProc = vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback);

  Vst2ModuleHandle() = default;
  Vst2ModuleHandle(const Vst2ModuleHandle&) = delete;
  Vst2ModuleHandle& operator=(const Vst2ModuleHandle&) = delete;
  ~Vst2ModuleHandle() { Unload(); }

  // Loads the shared library at `path`; false with a one-line reason when it
  // does not load or exports no VSTPluginMain.
  bool Load(const std::string& path, std::string& error);
  // Closes the library; every plug-in it created must be closed first.
  void Unload();

  void* Handle() const { return library_; }
  // Another exported symbol of the loaded library; null when none.
  void* Find(const char* name) const;
  EntryProc Entry() const { return entry_; }

 private:
  void* library_ = nullptr;
  EntryProc entry_ = nullptr;
};

}  // namespace host
