#include "PluginFactory.h"

#include <cstring>

using namespace Steinberg;

namespace {

// The process-wide factory and the lock that guards making and dropping it.
std::mutex& SharedLock() {
  static std::mutex lock;
  return lock;
}
PluginFactory* gShared = nullptr;

void Widen(char16* out, size_t size, const char8* text) {
  size_t i = 0;
  for (; i + 1 < size && text[i]; ++i) out[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
  out[i] = 0;
}

bool SameId(const void* a, const void* b) { return memcmp(a, b, sizeof(TUID)) == 0; }

}  // namespace

PluginFactory::PluginFactory(const PFactoryInfo& info) : factoryInfo_(info) {}

PluginFactory::~PluginFactory() {
  if (hostContext_) hostContext_->release();
}

void PluginFactory::AddClass(const PClassInfo2& info, CreateFunction create) {
  classes_.push_back({info, create});
}

PluginFactory* PluginFactory::Shared(PluginFactory* (*build)()) {
  std::lock_guard<std::mutex> guard(SharedLock());
  if (gShared && gShared->TryAddRef()) return gShared;
  gShared = build ? build() : nullptr;
  return gShared;
}

bool PluginFactory::TryAddRef() {
  uint32 count = refCount_.load();
  while (count != 0)
    if (refCount_.compare_exchange_weak(count, count + 1)) return true;
  return false;  // on its way out: the caller makes a new one
}

tresult PLUGIN_API PluginFactory::queryInterface(const TUID iid, void** obj) {
  if (!obj) return kInvalidArgument;
  if (iid && (SameId(iid, FUnknown_iid) || SameId(iid, IPluginFactory_iid) ||
              SameId(iid, IPluginFactory2_iid) || SameId(iid, IPluginFactory3_iid))) {
    addRef();
    *obj = static_cast<IPluginFactory3*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

uint32 PLUGIN_API PluginFactory::addRef() { return ++refCount_; }

uint32 PLUGIN_API PluginFactory::release() {
  uint32 count = --refCount_;
  if (count == 0) {
    {
      std::lock_guard<std::mutex> guard(SharedLock());
      if (gShared == this) gShared = nullptr;
    }
    delete this;
  }
  return count;
}

tresult PLUGIN_API PluginFactory::getFactoryInfo(PFactoryInfo* info) {
  if (!info) return kInvalidArgument;
  *info = factoryInfo_;
  return kResultOk;
}

int32 PLUGIN_API PluginFactory::countClasses() { return static_cast<int32>(classes_.size()); }

const PluginFactory::ClassEntry* PluginFactory::EntryAt(int32 index) const {
  if (index < 0 || index >= static_cast<int32>(classes_.size())) return nullptr;
  return &classes_[static_cast<size_t>(index)];
}

tresult PLUGIN_API PluginFactory::getClassInfo(int32 index, PClassInfo* info) {
  const ClassEntry* entry = EntryAt(index);
  if (!info || !entry) return kInvalidArgument;
  memcpy(info->cid, entry->info.cid, sizeof(TUID));
  info->cardinality = entry->info.cardinality;
  memcpy(info->category, entry->info.category, sizeof info->category);
  memcpy(info->name, entry->info.name, sizeof info->name);
  return kResultOk;
}

tresult PLUGIN_API PluginFactory::getClassInfo2(int32 index, PClassInfo2* info) {
  const ClassEntry* entry = EntryAt(index);
  if (!info || !entry) return kInvalidArgument;
  *info = entry->info;
  return kResultOk;
}

tresult PLUGIN_API PluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info) {
  const ClassEntry* entry = EntryAt(index);
  if (!info || !entry) return kInvalidArgument;
  const PClassInfo2& from = entry->info;
  *info = PClassInfoW();
  memcpy(info->cid, from.cid, sizeof(TUID));
  info->cardinality = from.cardinality;
  memcpy(info->category, from.category, sizeof info->category);
  Widen(info->name, PClassInfo::kNameSize, from.name);
  info->classFlags = from.classFlags;
  memcpy(info->subCategories, from.subCategories, sizeof info->subCategories);
  Widen(info->vendor, PClassInfo2::kVendorSize, from.vendor);
  Widen(info->version, PClassInfo2::kVersionSize, from.version);
  Widen(info->sdkVersion, PClassInfo2::kVersionSize, from.sdkVersion);
  return kResultOk;
}

tresult PLUGIN_API PluginFactory::createInstance(FIDString cid, FIDString iid, void** obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (!cid || !iid) return kInvalidArgument;
  for (const ClassEntry& entry : classes_) {
    if (!SameId(cid, entry.info.cid)) continue;
    FUnknown* context = nullptr;
    {
      std::lock_guard<std::mutex> guard(contextLock_);
      context = hostContext_;
      if (context) context->addRef();
    }
    FUnknown* instance = entry.create ? entry.create(context) : nullptr;
    if (context) context->release();
    if (!instance) return kOutOfMemory;
    // The host gets the interface it asked for; our creation reference goes.
    tresult result = instance->queryInterface(iid, obj);
    instance->release();
    if (result != kResultOk) {
      *obj = nullptr;
      return kNoInterface;
    }
    return kResultOk;
  }
  return kNoInterface;
}

tresult PLUGIN_API PluginFactory::setHostContext(FUnknown* context) {
  std::lock_guard<std::mutex> guard(contextLock_);
  if (context) context->addRef();
  if (hostContext_) hostContext_->release();
  hostContext_ = context;
  return kResultOk;
}
