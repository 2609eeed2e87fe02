// The state blob hosts keep for an instance, the same in every format that
// saves a blob (VST3 component and controller state, LV2 state), so a
// project moved between formats keeps its sound: the base's parameter state
// (SaveState) followed by a 32-bit little-endian host-bypass flag.
//
// A VST2 program chunk (what effGetChunk gives for one program) holds the
// same parameter state after the chunk header (IEffectBase::BeginChunk);
// ProgramChunkFromHostState turns one into the other.
//
// The functions taking a plug-in take its lock. None calls the host.
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

// The VST2 program chunk holding the parameters of a blob SaveHostState
// wrote (a .vstpreset's controller state, an LV2 or CLAP state), so a
// preset saved in those formats loads into VST2. The host-bypass flag,
// which repeats the BYPASS parameter, is left out. A blob from another
// build (more bytes after the flag) gives a chunk of another size, which
// the plug-in's own chunk tells apart. False when the blob has no
// parameter state before its flag.
bool ProgramChunkFromHostState(const uint8_t* data, size_t size, StateChunk& chunk);
