// The plug-in state inside a preset file, for a host that restores state
// blobs: a .vstpreset gives its controller state (the state the VST3
// plug-in's IEditController::getState wrote), an .fxp with an opaque chunk
// gives that chunk (for effSetChunk). Any other file is taken to be a state
// blob already and passed through unchanged.
#pragma once

#include <string>

#include "ByteOrder.h"

namespace presetfiles {

enum class PresetFileKind { StateBlob, VstPreset, Fxp };

PresetFileKind KindOf(const Bytes& file);

// `format` is "VST3" or "VST2", the format of the plug-in that will take the
// state. False (with `error`) when the file is damaged, belongs to the other
// format, or holds parameter values instead of a chunk.
bool StateFromPresetFile(const Bytes& file, const std::string& format, Bytes& state, std::string& error);

}  // namespace presetfiles
