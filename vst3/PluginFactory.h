// PluginFactory: the VST3 class factory of the module.
//
// The host gets it from the module's GetPluginFactory, reads the factory and
// class information (IPluginFactory, 2 and 3) and asks it to create
// instances. It is reference counted like every VST3 object: created with
// one reference, kept process-wide while hosts hold it, deleted when the
// last reference goes. Class information is fixed once the classes are
// registered; every query is thread-safe afterwards.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"

class PluginFactory : public Steinberg::IPluginFactory3 {
 public:
  // Makes one instance; returns its FUnknown with one reference, or null.
  using CreateFunction = Steinberg::FUnknown* (*)(Steinberg::FUnknown* factoryContext);

  explicit PluginFactory(const Steinberg::PFactoryInfo& info);
  virtual ~PluginFactory();
  PluginFactory(const PluginFactory&) = delete;
  PluginFactory& operator=(const PluginFactory&) = delete;

  void AddClass(const Steinberg::PClassInfo2& info, CreateFunction create);

  // The factory kept for the process: the current one with a reference
  // added, or a new one made by `build` (which registers the classes).
  static PluginFactory* Shared(PluginFactory* (*build)());

  // ---- FUnknown ----
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  Steinberg::uint32 PLUGIN_API addRef() override;
  Steinberg::uint32 PLUGIN_API release() override;

  // ---- IPluginFactory, 2 and 3 ----
  Steinberg::tresult PLUGIN_API getFactoryInfo(Steinberg::PFactoryInfo* info) override;
  Steinberg::int32 PLUGIN_API countClasses() override;
  Steinberg::tresult PLUGIN_API getClassInfo(Steinberg::int32 index,
                                             Steinberg::PClassInfo* info) override;
  Steinberg::tresult PLUGIN_API createInstance(Steinberg::FIDString cid, Steinberg::FIDString iid,
                                               void** obj) override;
  Steinberg::tresult PLUGIN_API getClassInfo2(Steinberg::int32 index,
                                              Steinberg::PClassInfo2* info) override;
  Steinberg::tresult PLUGIN_API getClassInfoUnicode(Steinberg::int32 index,
                                                    Steinberg::PClassInfoW* info) override;
  Steinberg::tresult PLUGIN_API setHostContext(Steinberg::FUnknown* context) override;

 private:
  struct ClassEntry {
    Steinberg::PClassInfo2 info;
    CreateFunction create;
  };
  const ClassEntry* EntryAt(Steinberg::int32 index) const;
  bool TryAddRef();

  std::atomic<Steinberg::uint32> refCount_{1};
  Steinberg::PFactoryInfo factoryInfo_;
  std::vector<ClassEntry> classes_;
  std::mutex contextLock_;
  Steinberg::FUnknown* hostContext_ = nullptr;  // holds a reference
};
