// The CLAP module's entry: clap_entry (the only exported symbol) and the
// plug-in factory with the one plug-in it holds.
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "ClapAbi.h"
#include "Kestrune.h"

#if defined(_WIN32)
#include <windows.h>

// The module's handle: the Windows editor registers its window class and
// reads its images with it.
void* gKestruneModule = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gKestruneModule = instance;
  return TRUE;
}
#endif

namespace {

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_COMPRESSOR,
                           CLAP_PLUGIN_FEATURE_STEREO, nullptr};

const clap_plugin_descriptor kDescriptor = {
    CLAP_VERSION_INIT,
    "com.marlowind.kestrune",
    "Kestrune",
    "Marlowind",
    "",
    "",
    "",
    "3.1.0",
    "Stereo compressor with external sidechain, sidechain equaliser and saturation",
    kFeatures,
};

// Serialises instance creation and destruction: hosts may create instances
// from several threads at once.
std::mutex& CreationLock() {
  static std::mutex lock;
  return lock;
}

std::atomic<int> gInitCount{0};

uint32_t FactoryCount(const clap_plugin_factory*) { return 1; }

const clap_plugin_descriptor* FactoryDescriptor(const clap_plugin_factory*, uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}

const clap_plugin* FactoryCreate(const clap_plugin_factory*, const clap_host* host,
                                 const char* pluginId) {
  if (!host || !pluginId || std::strcmp(pluginId, kDescriptor.id) != 0) return nullptr;
  if (!clap_version_is_compatible(host->clap_version)) return nullptr;
  std::lock_guard<std::mutex> guard(CreationLock());
  ClapCreationArg arg;
  arg.host = host;
  arg.descriptor = &kDescriptor;
  try {
    Kestrune* plug = new Kestrune(arg);
    // Hosts that show a plug-in's gain reduction read the editor's meter.
    plug->SetGainReading([](const IEffectCLAP& p) { return static_cast<const Kestrune&>(p).path.state.meterState; });
    return plug->ClapPlugin();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

const clap_plugin_factory kFactory = {FactoryCount, FactoryDescriptor, FactoryCreate};

// Cheap and counted: a host may call init again before deinit.
bool EntryInit(const char*) {
  gInitCount.fetch_add(1);
  return true;
}

void EntryDeinit() {
  if (gInitCount.load() > 0) gInitCount.fetch_sub(1);
}

const void* EntryFactory(const char* factoryId) {
  if (factoryId && std::strcmp(factoryId, CLAP_PLUGIN_FACTORY_ID) == 0) return &kFactory;
  return nullptr;
}

}  // namespace

// Unbraced: inside extern "C" { } a const object would have internal linkage.
extern "C" CLAP_EXPORT const clap_plugin_entry clap_entry = {CLAP_VERSION_INIT, EntryInit,
                                                             EntryDeinit, EntryFactory};
