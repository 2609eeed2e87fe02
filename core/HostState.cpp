#include "HostState.h"

namespace {
constexpr size_t kFlagBytes = 4;
}

bool SaveHostState(IEffectBase& plug, StateChunk& chunk) {
  PlugLockGuard guard(plug);
  StateChunk params;
  if (!plug.SaveState(params) || params.Size() <= 0) return false;
  const uint8_t flag[kFlagBytes] = {static_cast<uint8_t>(plug.HostBypass() ? 1 : 0), 0, 0, 0};
  return chunk.PutChunk(params) >= 0 && chunk.PutBytes(flag, sizeof flag) >= 0;
}

int HostStateSize(IEffectBase& plug) {
  PlugLockGuard guard(plug);
  StateChunk params;
  plug.SaveState(params);
  return params.Size() > 0 ? params.Size() + static_cast<int>(kFlagBytes) : 0;
}

bool LoadHostState(IEffectBase& plug, const uint8_t* data, size_t size) {
  PlugLockGuard guard(plug);
  const int whole = HostStateSize(plug);
  if (!data || whole <= 0 || size < static_cast<size_t>(whole)) return false;
  const size_t paramBytes = static_cast<size_t>(whole) - kFlagBytes;
  StateChunk chunk;
  if (!chunk.Assign(data, paramBytes)) return false;
  plug.LoadState(chunk, 0);
  const uint8_t* f = data + paramBytes;
  const uint32_t flag = static_cast<uint32_t>(f[0]) | static_cast<uint32_t>(f[1]) << 8 |
                        static_cast<uint32_t>(f[2]) << 16 | static_cast<uint32_t>(f[3]) << 24;
  // Saved while the host bypass was a switch of its own: either one on
  // means bypassed.
  if (flag != 0 || plug.BypassParamIndex() < 0) plug.SetHostBypass(flag != 0);
  plug.RefreshEditorFromParams();
  return true;
}

bool ProgramChunkFromHostState(const uint8_t* data, size_t size, StateChunk& chunk) {
  if (!data || size <= kFlagBytes) return false;
  IEffectBase::BeginChunk(chunk);
  return chunk.PutBytes(data, size - kFlagBytes) >= 0;
}
