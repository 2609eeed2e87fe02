#include "IEffectLV2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include "HostState.h"
#include "Lv2Ports.h"

namespace {

// The host's largest block, when it says; 0 otherwise.
int HostMaxBlock(const LV2_Feature* const* features, LV2_URID_Map* map) {
  if (!features || !map) return 0;
  const LV2_Options_Option* options = nullptr;
  for (int i = 0; features[i]; ++i)
    if (features[i]->URI && std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
      options = static_cast<const LV2_Options_Option*>(features[i]->data);
  if (!options) return 0;
  const LV2_URID maxBlock = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
  const LV2_URID atomInt = map->map(map->handle, LV2_ATOM__Int);
  for (const LV2_Options_Option* o = options; o->key || o->value; ++o) {
    if (o->key == maxBlock && o->type == atomInt && o->size == sizeof(int32_t) && o->value)
      return *static_cast<const int32_t*>(o->value);
  }
  return 0;
}

}  // namespace

IEffectLV2::IEffectLV2(const Lv2CreationArg& arg, const EffectIdentity& identity)
    : IEffectBase(identity, kApiLv2) {
  for (int i = 0; arg.features && arg.features[i]; ++i)
    if (arg.features[i]->URI && std::strcmp(arg.features[i]->URI, LV2_URID__map) == 0)
      map_ = static_cast<LV2_URID_Map*>(arg.features[i]->data);
  if (map_ && !map_->map) map_ = nullptr;
  if (map_) {
    stateKey_ = map_->map(map_->handle, lv2ports::kStateKeyUri);
    chunkType_ = map_->map(map_->handle, LV2_ATOM__Chunk);
  }
  SetSampleRate(std::isfinite(arg.sampleRate) && arg.sampleRate > 0 ? arg.sampleRate : 0.0);

  ConnectInputs(0, InputChannelCount(), true);
  ConnectOutputs(0, OutputChannelCount(), true);
  int block = HostMaxBlock(arg.features, map_);
  block = block > 0 ? std::min(block, kMaxBlockSize) : kDefaultBlockSize;
  ChangeBlockSize(block);

  paramPorts_.assign(static_cast<size_t>(ParamCount()), nullptr);
  lastPortValues_.assign(static_cast<size_t>(ParamCount()),
                         std::numeric_limits<float>::quiet_NaN());
  replacedValues_.assign(static_cast<size_t>(ParamCount()), 0.0);
  awaitingHost_.assign(static_cast<size_t>(ParamCount()), 0);
}

IEffectLV2::~IEffectLV2() = default;

void IEffectLV2::ConnectPort(uint32_t port, void* data) {
  using namespace lv2ports;
  if (port <= kSideInRight) {
    audioIn_[port] = static_cast<const float*>(data);
  } else if (port <= kOutRight) {
    audioOut_[port - kOutLeft] = static_cast<float*>(data);
  } else if (port < kFirstParamPort + static_cast<uint32_t>(ParamCount())) {
    paramPorts_[port - kFirstParamPort] = static_cast<const float*>(data);
  } else if (port == kGainReductionPort) {
    gainReduction_ = static_cast<float*>(data);
  }
}

void IEffectLV2::Activate() { ResetProcessing(); }

void IEffectLV2::Deactivate() { ResetProcessing(); }

void IEffectLV2::ApplyPortChanges() {
  const bool readAll = readAll_;
  readAll_ = false;
  for (int i = 0; i < ParamCount(); ++i) {
    const size_t at = static_cast<size_t>(i);
    const float* port = paramPorts_[at];
    if (!port) continue;
    const float value = *port;
    float& last = lastPortValues_[at];
    const bool changed = std::memcmp(&value, &last, sizeof value) != 0;
    // An unchanged port brings nothing new, unless the host has asked for
    // the port values since the last run. One that waits for the host after
    // a restore also stays as it is while it shows the value the restore
    // replaced: the host has not caught up with the restore yet.
    if (!changed && (awaitingHost_[at] || !readAll)) continue;
    last = value;
    double plain = 0;
    const bool readable = lv2ports::PlainFromPortValue(*this, i, value, &plain);
    if (awaitingHost_[at]) {
      if (readable && plain == replacedValues_[at]) continue;
      awaitingHost_[at] = 0;
    }
    if (!readable) continue;
    // The value the host shows for the current one, at a float's precision:
    // nothing changed (a default, a restored state, a preset's echo).
    if (lv2ports::PortValueFor(*this, i, ParamAt(i)->value) == value) continue;
    SetParamFromHost(i, plain, ValueDomain::Plain);
  }
}

void IEffectLV2::Run(uint32_t frames) {
  const int n = static_cast<int>(std::min<uint32_t>(frames, std::numeric_limits<int>::max()));
  // Never waits. Held, the hooks below take the lock again by counting.
  std::unique_lock<PlugMutex> held(PlugLock(), std::try_to_lock);
  if (held.owns_lock()) {
    ApplyPortChanges();
    ProcessHostBlock(audioIn_, 4, audioOut_, 2, n);
    return;
  }
  // A state save is reading the parameters: the block runs with them as
  // they are, and the ports, read again next run, bring any change then.
  ProcessHostBlockWithoutLock(audioIn_, 4, audioOut_, 2, n);
}

LV2_State_Status IEffectLV2::SaveLv2State(LV2_State_Store_Function store,
                                          LV2_State_Handle handle) {
  if (!store || !map_) return LV2_STATE_ERR_NO_FEATURE;
  StateChunk chunk;
  if (!SaveHostState(*this, chunk)) return LV2_STATE_ERR_UNKNOWN;
  return store(handle, stateKey_, chunk.Data(), static_cast<size_t>(chunk.Size()), chunkType_,
               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status IEffectLV2::RestoreLv2State(LV2_State_Retrieve_Function retrieve,
                                             LV2_State_Handle handle) {
  if (!retrieve || !map_) return LV2_STATE_ERR_NO_FEATURE;
  PlugLockGuard guard(*this);  // against a save from another thread; never meets run
  size_t size = 0;
  uint32_t type = 0;
  uint32_t flags = 0;
  const void* data = retrieve(handle, stateKey_, &size, &type, &flags);
  if (!data) return LV2_STATE_ERR_NO_PROPERTY;
  if (type != chunkType_) return LV2_STATE_ERR_BAD_TYPE;
  std::vector<double> before(replacedValues_.size());
  for (size_t i = 0; i < before.size(); ++i) before[i] = ParamAt(static_cast<int>(i))->value;
  if (!LoadHostState(*this, static_cast<const uint8_t*>(data), size)) return LV2_STATE_ERR_UNKNOWN;
  for (size_t i = 0; i < before.size(); ++i) {
    replacedValues_[i] = before[i];
    if (ParamAt(static_cast<int>(i))->value != before[i]) awaitingHost_[i] = 1;
  }
  return LV2_STATE_SUCCESS;
}

bool IEffectLV2::ParamPortValue(uint32_t port, float* value) {
  if (!value || port < lv2ports::kFirstParamPort ||
      port >= lv2ports::kFirstParamPort + static_cast<uint32_t>(ParamCount()))
    return false;
  PlugLockGuard guard(*this);
  const int index = static_cast<int>(port - lv2ports::kFirstParamPort);
  // The host now knows what this port should show: what it sets from here
  // on is its setting, also the value the port held before a restore.
  awaitingHost_[static_cast<size_t>(index)] = 0;
  readAll_ = true;
  *value = lv2ports::PortValueFor(*this, index, ParamAt(index)->value);
  return true;
}

void IEffectLV2::HostTimeSignature(int* numerator, int* denominator) {
  if (numerator) *numerator = 4;
  if (denominator) *denominator = 4;
}

void IEffectLV2::HostTimeInfo(::HostTimeInfo* info) {
  if (info) *info = ::HostTimeInfo();
}
