#include "ModuleIdentity.h"

#include <dlfcn.h>

#include <cstring>

#include "PluginHost.h"
#include "VstPresetFile.h"
#include "Vst2Abi.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

namespace presets {
namespace {

using namespace Steinberg;

// Keeps a module loaded for the duration of one query.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path)
      : alreadyLoaded_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) != nullptr),
        handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (alreadyLoaded_) dlclose(handle_);  // the RTLD_NOLOAD reference
  }
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;
  void* Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }
  void* Handle() const { return handle_; }
  // Whether something else in this process (a host) had the module loaded
  // already: it then owns the module's entry and exit calls.
  bool AlreadyLoaded() const { return alreadyLoaded_; }

 private:
  bool alreadyLoaded_;
  void* handle_;
};

std::string Vst3Binary(const std::string& bundle) { return render::ModuleBinaryPath(bundle); }

intptr_t QuietHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? vst2::kVstVersion : 0;
}

}  // namespace

bool ReadVst3ClassId(const std::string& bundle, const std::string& className, std::string& classId,
                     std::string& error) {
  LoadedModule module(Vst3Binary(bundle));
  using FactoryProc = IPluginFactory*(PLUGIN_API*)();
  using EntryProc = bool (*)(void*);
  using ExitProc = bool (*)();
  auto getFactory = reinterpret_cast<FactoryProc>(module.Symbol("GetPluginFactory"));
  if (!getFactory) {
    error = "'" + bundle + "' is not a loadable VST3 module";
    return false;
  }
  auto entry = module.AlreadyLoaded() ? nullptr : reinterpret_cast<EntryProc>(module.Symbol("ModuleEntry"));
  auto exit = module.AlreadyLoaded() ? nullptr : reinterpret_cast<ExitProc>(module.Symbol("ModuleExit"));
  if (entry && !entry(module.Handle())) {
    error = "VST3 module '" + bundle + "' refused to start";
    return false;
  }
  bool found = false;
  if (IPluginFactory* factory = getFactory()) {
    for (int32 i = 0; i < factory->countClasses() && !found; ++i) {
      PClassInfo info;
      if (factory->getClassInfo(i, &info) != kResultOk) continue;
      if (strncmp(info.category, kVstAudioEffectClass, sizeof(info.category)) != 0) continue;
      if (std::string(info.name, strnlen(info.name, sizeof(info.name))) != className) continue;
      uint8_t cid[16];
      memcpy(cid, info.cid, sizeof(cid));
      classId = presetfiles::ClassIdText(cid);
      found = true;
    }
    factory->release();
  }
  if (entry && exit) exit();
  if (!found) error = "VST3 module '" + bundle + "' has no audio effect class '" + className + "'";
  return found;
}

bool ReadVst2Identity(const std::string& path, Vst2Identity& identity, std::string& error) {
  LoadedModule module(path);
  using MainProc = vst2::AEffect* (*)(vst2::audioMasterCallback);
  auto main = reinterpret_cast<MainProc>(module.Symbol("VSTPluginMain"));
  vst2::AEffect* effect = main ? main(&QuietHost) : nullptr;
  if (!effect || effect->magic != vst2::kEffectMagic) {
    error = "'" + path + "' is not a loadable VST2 module";
    return false;
  }
  identity.uniqueId = effect->uniqueID;
  identity.version = effect->version;
  identity.paramCount = effect->numParams;
  identity.flags = effect->flags;
  effect->dispatcher(effect, vst2::effClose, 0, 0, nullptr, 0);
  return true;
}

}  // namespace presets
