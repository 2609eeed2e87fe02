// The embedded default material: eight seconds of drums and bass at 120 BPM,
// synthesised in code, so kestrune-render can show the compressor working
// without any input file. The result is the same on every run.
#pragma once

#include "AudioFile.h"

namespace render {

constexpr double kDefaultMaterialRate = 48000.0;
constexpr double kDefaultMaterialSeconds = 8.0;

// Stereo, kDefaultMaterialRate, peaks at -1 dBFS.
AudioBuffer MakeDefaultMaterial();

}  // namespace render
