// Opening a plug-in's shared library and finding its exports: dlopen on
// Linux, LoadLibrary on Windows. Used by the module handles only.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {
namespace library {

#ifdef _WIN32
inline void* Open(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryA(path.c_str())); }
inline void* Find(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
inline void Close(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
inline std::string LastError() { return "Windows error " + std::to_string(GetLastError()); }
#else
inline void* Open(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
inline void* Find(void* library, const char* name) { return dlsym(library, name); }
inline void Close(void* library) { dlclose(library); }
inline std::string LastError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}
#endif

}  // namespace library
}  // namespace host
