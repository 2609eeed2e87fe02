// The state blob hosts keep for an instance, the same in every format that
// saves a blob (VST3 component and controller state, LV2 state), so a
// project moved between formats keeps its sound: the base's parameter state
// (SaveState) followed by a 32-bit little-endian host-bypass flag.
//
// Both functions take the plug-in lock. Neither calls the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "IEffectBase.h"
#include "StateChunk.h"

// Appends the blob to `chunk`. False when the parameter state is empty.
bool SaveHostState(IEffectBase& plug, StateChunk& chunk);

// Bytes of the blob as this build writes it (parameter state plus the flag).
int HostStateSize(IEffectBase& plug);

// Applies a blob SaveHostState wrote. A blob shorter than HostStateSize is
// refused whole: false, and nothing changes. Bytes after the flag are
// ignored (a later version's additions). A blob from a build whose host
// bypass was separate turns bypass on when its flag is set.
bool LoadHostState(IEffectBase& plug, const uint8_t* data, size_t size);
