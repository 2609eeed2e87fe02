// The factory presets Kestrune ships as preset files (.vstpreset, .fxp and
// the LV2 bundle's presets): settings a musician reaches for first. The
// preset files are written from the plug-in's state after these settings
// are applied to a fresh instance (tools/presets, tools/lv2ttl).
//
// The plug-in's programs (VST2 programs, the VST3 program list and its
// "Preset" parameter) are ProgramAt(0..kProgramCount - 1): first "Default",
// every control at its default, then the factory presets in this order.
// Hosts pick program 0 when they insert a plug-in (Carla does), so a new
// instance shows, and stays at, the defaults.
//
// Values are plain parameter values (PlugParam::value), the numbers the
// state chunk stores. Signs follow the parameter table: ATTACK and RELEASE
// hold minus the time in seconds, HF minus the shelf gain in dB; RATIO 0..3
// is 4:1, 8:1, 12:1, 20:1; Sidechain 1 is internal, 0 external; the unnamed
// switch 12 picks 16x oversampling at 1. Parameters not listed keep their
// defaults.
#pragma once

#include "KestruneIdentity.h"

namespace kestrune {

struct PresetSetting {
  int param;         // ParamIndex
  double plainValue;
};

struct FactoryPreset {
  const char* name;  // also the file name; at most 27 characters (the .fxp name field)
  const char* description;
  PresetSetting settings[kParamCount];
  int settingCount;
};

inline constexpr FactoryPreset kFactoryPresets[] = {
    {"Drum Bus Glue",
     "4:1, slow attack, medium release: hits keep their snap, the kit sits together",
     {{kInput, 10}, {kRatio, 0}, {kAttack, -0.001}, {kRelease, -0.25}, {kHpf, 90}, {kOutput, 3}},
     6},
    {"Vocal Levelling",
     "8:1, medium attack and release, detector less sensitive to lows and sibilance: evens a vocal",
     {{kInput, 14}, {kRatio, 1}, {kAttack, -0.0005}, {kRelease, -0.4}, {kHpf, 150},
      {kMidFreq, 6000}, {kMidGain, -3}, {kOutput, 4}},
     8},
    {"Parallel Smash",
     "20:1, instant attack, fast release, 40 % MIX under the dry signal",
     {{kInput, 55}, {kRatio, 3}, {kAttack, 0}, {kRelease, -0.08}, {kMix, 40}, {kOutput, 4}},
     6},
    {"Bass Ducked by Kick",
     "External sidechain: the bass on the track, the kick on inputs 3/4, and the bass ducks under it",
     {{kSidechain, 0}, {kInput, 18}, {kRatio, 2}, {kAttack, 0}, {kRelease, -0.12}, {kHpf, 20}},
     6},
    {"Gentle Master",
     "Light 4:1, slow attack and release, 16x oversampling: a touch of density on a mix",
     {{kInput, 5}, {kRatio, 0}, {kAttack, -0.001}, {kRelease, -0.6}, {kHpf, 60}, {kOutput, 1.5},
      {kOversampling, 1}},
     7},
    {"SLAM",
     "The all-out mode: 500:1, three times faster timing, for effect",
     {{kSlam, 1}, {kInput, 20}, {kRelease, -0.1}, {kOutput, 5}},
     4},
};

inline constexpr int kFactoryPresetCount =
    static_cast<int>(sizeof(kFactoryPresets) / sizeof(kFactoryPresets[0]));

// Program 0: no settings over the defaults. Not a preset file (hosts offer
// their own way back to a plug-in's defaults).
inline constexpr FactoryPreset kDefaultProgram = {
    "Default", "Every control at its default: where a new instance starts", {}, 0};

inline constexpr int kProgramCount = kFactoryPresetCount + 1;

// Program `program`'s name and settings; null outside the programs.
constexpr const FactoryPreset* ProgramAt(int program) {
  if (program == 0) return &kDefaultProgram;
  if (program < 1 || program > kFactoryPresetCount) return nullptr;
  return &kFactoryPresets[program - 1];
}

}  // namespace kestrune
