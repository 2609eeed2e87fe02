// The CLAP module's entry: clap_entry (the only exported symbol), the
// plug-in factory with the one plug-in it holds, and the preset-discovery
// factory that lists the factory presets (FactoryPresets.h) for hosts'
// preset browsers; the plug-in loads them by name (clap.preset-load).
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "ClapAbi.h"
#include "FactoryPresets.h"
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

const kestrune::FactoryPreset* FactoryPresetNamed(const char* name) {
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets)
    if (std::strcmp(preset.name, name) == 0) return &preset;
  return nullptr;
}

// A preset's load key is its name.
bool ReadFactoryPreset(const char* loadKey, double* plainValues, int count) {
  const kestrune::FactoryPreset* preset = loadKey ? FactoryPresetNamed(loadKey) : nullptr;
  if (!preset || !plainValues) return false;
  for (int s = 0; s < preset->settingCount; ++s) {
    const kestrune::PresetSetting& setting = preset->settings[s];
    if (setting.param < 0 || setting.param >= count) return false;
    plainValues[setting.param] = setting.plainValue;
  }
  return true;
}

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
    plug->SetPresetReader(ReadFactoryPreset);
    return plug->ClapPlugin();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

const clap_plugin_factory kFactory = {FactoryCount, FactoryDescriptor, FactoryCreate};

// ---------------------------------------------------------------- preset discovery

const clap_preset_discovery_provider_descriptor kProviderDescriptor = {
    CLAP_VERSION_INIT, "com.marlowind.kestrune.factory-presets", "Kestrune factory presets",
    "Marlowind"};

// One provider per indexer that asks; the indexer lives until destroy.
struct PresetProvider {
  clap_preset_discovery_provider provider = {};
  const clap_preset_discovery_indexer* indexer = nullptr;
};

const clap_preset_discovery_indexer* IndexerOf(const clap_preset_discovery_provider* provider) {
  return provider ? static_cast<const PresetProvider*>(provider->provider_data)->indexer : nullptr;
}

bool ProviderInit(const clap_preset_discovery_provider* provider) {
  const clap_preset_discovery_indexer* indexer = IndexerOf(provider);
  if (!indexer || !indexer->declare_location) return false;
  clap_preset_discovery_location location = {};
  location.flags = CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT;
  location.name = kProviderDescriptor.name;
  location.kind = CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN;
  location.location = nullptr;
  return indexer->declare_location(indexer, &location);
}

void ProviderDestroy(const clap_preset_discovery_provider* provider) {
  if (provider) delete static_cast<PresetProvider*>(provider->provider_data);
}

bool ProviderMetadata(const clap_preset_discovery_provider*, uint32_t kind, const char*,
                      const clap_preset_discovery_metadata_receiver* receiver) {
  if (kind != CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN || !receiver || !receiver->begin_preset)
    return false;
  const clap_universal_plugin_id pluginId = {"clap", kDescriptor.id};
  for (const kestrune::FactoryPreset& preset : kestrune::kFactoryPresets) {
    if (!receiver->begin_preset(receiver, preset.name, preset.name)) break;
    if (receiver->add_plugin_id) receiver->add_plugin_id(receiver, &pluginId);
    if (receiver->set_flags) receiver->set_flags(receiver, CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT);
    if (receiver->add_creator) receiver->add_creator(receiver, kDescriptor.vendor);
    if (receiver->set_description) receiver->set_description(receiver, preset.description);
  }
  return true;
}

const void* ProviderExtension(const clap_preset_discovery_provider*, const char*) { return nullptr; }

uint32_t DiscoveryCount(const clap_preset_discovery_factory*) { return 1; }

const clap_preset_discovery_provider_descriptor* DiscoveryDescriptor(
    const clap_preset_discovery_factory*, uint32_t index) {
  return index == 0 ? &kProviderDescriptor : nullptr;
}

const clap_preset_discovery_provider* DiscoveryCreate(const clap_preset_discovery_factory*,
                                                      const clap_preset_discovery_indexer* indexer,
                                                      const char* providerId) {
  if (!indexer || !providerId || std::strcmp(providerId, kProviderDescriptor.id) != 0) return nullptr;
  auto* made = new (std::nothrow) PresetProvider;
  if (!made) return nullptr;
  made->indexer = indexer;
  made->provider = {&kProviderDescriptor, made, ProviderInit, ProviderDestroy, ProviderMetadata,
                    ProviderExtension};
  return &made->provider;
}

const clap_preset_discovery_factory kPresetDiscovery = {DiscoveryCount, DiscoveryDescriptor,
                                                        DiscoveryCreate};

// Cheap and counted: a host may call init again before deinit.
bool EntryInit(const char*) {
  gInitCount.fetch_add(1);
  return true;
}

void EntryDeinit() {
  if (gInitCount.load() > 0) gInitCount.fetch_sub(1);
}

const void* EntryFactory(const char* factoryId) {
  if (!factoryId) return nullptr;
  if (std::strcmp(factoryId, CLAP_PLUGIN_FACTORY_ID) == 0) return &kFactory;
  if (std::strcmp(factoryId, CLAP_PRESET_DISCOVERY_FACTORY_ID) == 0 ||
      std::strcmp(factoryId, CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT) == 0)
    return &kPresetDiscovery;
  return nullptr;
}

}  // namespace

// Unbraced: inside extern "C" { } a const object would have internal linkage.
extern "C" CLAP_EXPORT const clap_plugin_entry clap_entry = {CLAP_VERSION_INIT, EntryInit,
                                                             EntryDeinit, EntryFactory};
