// The module's entry points: VSTPluginMain, its legacy alias `main`, and on
// Windows DllMain. Nothing else leaves the module (hidden visibility plus a
// version script on Linux, a .def file on Windows).
#include <mutex>
#include <new>

#include "Kestrune.h"
#include "ModuleHandle.h"
#include "Vst2Abi.h"

#if defined(_WIN32)
#include <windows.h>
#define KESTRUNE_EXPORT
#else
#define KESTRUNE_EXPORT __attribute__((visibility("default")))
#endif

void* gKestruneModule = nullptr;

namespace {
// Serialises instance creation across host threads. Built on first use
// (thread-safe static initialisation) and destroyed when the module unloads.
std::recursive_mutex& CreationLock() {
  static std::recursive_mutex lock;
  return lock;
}
}  // namespace

extern "C" KESTRUNE_EXPORT vst2::AEffect* VSTCALLBACK VSTPluginMain(vst2::audioMasterCallback host) {
  std::lock_guard<std::recursive_mutex> guard(CreationLock());
  Kestrune* plug = nullptr;
  try {
    plug = new Kestrune(host);
  } catch (...) {
    return nullptr;
  }
  plug->FillEmptyPresetSlots("Empty", plug->PresetCount());
  vst2::AEffect* effect = plug->Effect();
  if (effect->numPrograms < 1) effect->numPrograms = 1;
  return effect;
}

#if !defined(_WIN32)
// Older Linux hosts look only for `main`. C++ cannot define a function named
// main with this signature, so the alias gets that name at the assembler level.
extern "C" KESTRUNE_EXPORT vst2::AEffect* VSTPluginMainLegacy(vst2::audioMasterCallback host)
    __asm__("main");
extern "C" vst2::AEffect* VSTPluginMainLegacy(vst2::audioMasterCallback host) {
  return VSTPluginMain(host);
}
#else
// `main` is the .def file's alias of VSTPluginMain.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
  gKestruneModule = instance;
  return TRUE;
}
#endif
