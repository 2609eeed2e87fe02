// The URID map and unmap an LV2 host hands to a plug-in and its UI: each
// URI gets a number from 1 up, the same one every time it is asked for;
// unmapping gives the URI back (null for a number never handed out). The
// texts stay where they are for the map's lifetime. Any thread: a plug-in
// and its UI may map from their own threads (never from the audio path,
// which must not wait on the map's lock).
#pragma once

#include <lv2/urid/urid.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace host {

class Lv2UridMap {
 public:
  Lv2UridMap() = default;
  Lv2UridMap(const Lv2UridMap&) = delete;
  Lv2UridMap& operator=(const Lv2UridMap&) = delete;

  LV2_URID Map(const char* uri) { return MapUri(this, uri); }
  const char* Unmap(LV2_URID urid) const {
    std::lock_guard<std::mutex> guard(lock_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1].c_str() : nullptr;
  }

  LV2_URID_Map map{this, MapUri};
  LV2_URID_Unmap unmap{this, UnmapUri};
  const LV2_Feature mapFeature{LV2_URID__map, &map};
  const LV2_Feature unmapFeature{LV2_URID__unmap, &unmap};

 private:
  static LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri) {
    auto* self = static_cast<Lv2UridMap*>(handle);
    if (!uri) return 0;
    std::lock_guard<std::mutex> guard(self->lock_);
    auto found = self->ids_.find(uri);
    if (found != self->ids_.end()) return found->second;
    self->uris_.push_back(uri);
    return self->ids_[uri] = static_cast<LV2_URID>(self->uris_.size());
  }
  static const char* UnmapUri(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    return static_cast<const Lv2UridMap*>(handle)->Unmap(urid);
  }

  mutable std::mutex lock_;
  std::map<std::string, LV2_URID> ids_;
  std::deque<std::string> uris_;
};

}  // namespace host
