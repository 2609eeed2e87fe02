// The exported entry points of the VST3 module and the Kestrune class it
// offers. Only these functions are visible outside the module.
//   Windows: InitDll, ExitDll, GetPluginFactory.
//   Linux:   ModuleEntry, ModuleExit, GetPluginFactory.
#include <mutex>
#include <new>

#include "Kestrune.h"
#include "ModuleHandle.h"
#include "PluginFactory.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#if SMTG_OS_WINDOWS
#include <windows.h>
#endif

using namespace Steinberg;

namespace {

// Serialises instance creation: hosts may create instances from several
// threads at once.
std::mutex& CreationLock() {
  static std::mutex lock;
  return lock;
}

FUnknown* CreateKestrune(FUnknown* factoryContext) {
  std::lock_guard<std::mutex> guard(CreationLock());
  try {
    auto* effect = new Kestrune(factoryContext);
    return static_cast<Vst::IAudioProcessor*>(effect);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

PluginFactory* BuildFactory() {
  // The vendor has no public web address or contact address to give.
  PFactoryInfo factoryInfo("Marlowind", "", "", PFactoryInfo::kUnicode);
  auto* factory = new PluginFactory(factoryInfo);

  // Class ID from the four words F2AEE70D 00DE4F4E 'Mrwd' 'Krn1', laid out
  // by the SDK's rule for this platform.
  static const TUID kClassId =
      INLINE_UID(kestrune::kVst3ClassIdWords[0], kestrune::kVst3ClassIdWords[1],
                 kestrune::kVst3ClassIdWords[2], kestrune::kVst3ClassIdWords[3]);
  PClassInfo2 info(kClassId, PClassInfo::kManyInstances, kVstAudioEffectClass, "Kestrune",
                   Vst::kSimpleModeSupported, "Fx|Dynamics", "", "3.1.0", "VST 3.6.12");
  factory->AddClass(info, CreateKestrune);
  return factory;
}

}  // namespace

void* gKestruneModule = nullptr;

extern "C" {

SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory() {
  return PluginFactory::Shared(BuildFactory);
}

#if SMTG_OS_WINDOWS

SMTG_EXPORT_SYMBOL bool InitDll() {
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&gKestruneModule), &module))
    gKestruneModule = module;
  return true;
}

SMTG_EXPORT_SYMBOL bool ExitDll() { return true; }

#else

SMTG_EXPORT_SYMBOL bool ModuleEntry(void* sharedLibraryHandle) {
  gKestruneModule = sharedLibraryHandle;
  return true;
}

SMTG_EXPORT_SYMBOL bool ModuleExit() { return true; }

#endif

}  // extern "C"

#if SMTG_OS_WINDOWS
// Hosts that skip InitDll still get the module handle recorded.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gKestruneModule = instance;
  return TRUE;
}
#endif
