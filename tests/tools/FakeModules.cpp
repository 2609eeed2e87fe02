// Stand-in plug-in modules for the renderer's refusal tests: a VST3 module
// whose factory offers another effect, and a VST2 module whose AEffect is
// another plug-in. Built as two shared libraries from this one file.
#include <cstring>

#if defined(FAKE_VST3)
#include "pluginterfaces/base/ipluginbase.h"

using namespace Steinberg;

namespace {

class OtherFactory : public IPluginFactory {
 public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
    if (FUnknownPrivate::iidEqual(iid, FUnknown_iid) || FUnknownPrivate::iidEqual(iid, IPluginFactory_iid)) {
      *obj = this;
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
  tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override {
    *info = PFactoryInfo("Someone Else", "", "", PFactoryInfo::kUnicode);
    return kResultOk;
  }
  int32 PLUGIN_API countClasses() override { return 1; }
  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override {
    if (index != 0) return kInvalidArgument;
    static const TUID cid = INLINE_UID(1, 2, 3, 4);
    *info = PClassInfo(cid, PClassInfo::kManyInstances, "Audio Module Class", "Other Compressor");
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(FIDString, FIDString, void** obj) override {
    *obj = nullptr;
    return kNotImplemented;
  }
};

OtherFactory g_factory;

}  // namespace

extern "C" __attribute__((visibility("default"))) IPluginFactory* PLUGIN_API GetPluginFactory() {
  return &g_factory;
}
extern "C" __attribute__((visibility("default"))) bool ModuleEntry(void*) { return true; }
extern "C" __attribute__((visibility("default"))) bool ModuleExit() { return true; }

#elif defined(FAKE_VST2)
#include "Vst2Abi.h"

using namespace vst2;

namespace {

AEffect g_effect;

intptr_t Dispatcher(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  if (opcode == effGetEffectName && ptr) strcpy(static_cast<char*>(ptr), "Other Compressor");
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback) {
  memset(&g_effect, 0, sizeof(g_effect));
  g_effect.magic = kEffectMagic;
  g_effect.dispatcher = Dispatcher;
  g_effect.uniqueID = FourChars('O', 't', 'h', 'r');
  g_effect.numInputs = 2;
  g_effect.numOutputs = 2;
  return &g_effect;
}
#endif
