// What Kestrune declares to its plug-in base: identity, channel
// configurations, preset count and flags. Shared by every binding.
#pragma once

#include "IEffectBase.h"

namespace kestrune {

constexpr int kParamCount = 14;
constexpr int kPresetCount = 7;  // the programs: Default, then the factory presets (FactoryPresets.h)
// Default, ahead of the six factory programs that banks of the first bank
// version hold.
constexpr int kProgramsAheadOfOldBanks = 1;
constexpr const char* kChannelConfig = "2-2 4-2";
constexpr const char* kEffectName = "Kestrune";
constexpr const char* kProductName = "";
constexpr const char* kMakerName = "Marlowind";
constexpr int32_t kVersion = 0x00030100;  // 3.1.0
constexpr int32_t kUniqueId = PackFourChars("Krn1");
constexpr int32_t kMakerId = PackFourChars("Mrwd");
// The VST3 processor's class ID as its four words ('Mrwd' 'Krn1' last):
// the module registers it, preset files and hosts name the plug-in by it.
constexpr uint32_t kVst3ClassIdWords[4] = {0xF2AEE70D, 0x00DE4F4E, 0x4D727764, 0x4B726E31};

// Parameter indices; the host sees them in this order.
enum ParamIndex {
  kInput = 0,
  kOutput = 1,
  kAttack = 2,
  kRelease = 3,
  kRatio = 4,
  kHpf = 5,
  kMix = 6,
  kMidFreq = 7,
  kMidGain = 8,
  kHf = 9,
  kBypass = 10,
  kSlam = 11,
  kOversampling = 12,  // only named: unset kind (stepped), range 0..1
  kSidechain = 13,
};

inline EffectIdentity Identity() {
  EffectIdentity id;
  id.paramCount = kParamCount;
  id.channelConfig = kChannelConfig;
  id.presetCount = kPresetCount;
  id.effectName = kEffectName;
  id.productName = kProductName;
  id.makerName = kMakerName;
  id.version = kVersion;
  id.uniqueId = kUniqueId;
  id.makerId = kMakerId;
  id.bypassParam = kBypass;
  id.presetsAheadOfOldBanks = kProgramsAheadOfOldBanks;
  return id;
}

// Initialises the parameter table in the order the effect has always used
// (BYPASS, SLAM, Sidechain, OUTPUT, INPUT, HPF, MIX, ATTACK, RELEASE, RATIO,
// HF, MID FREQ, MID GAIN); parameter 12 is left as the base made it.
void InitParameters(IEffectBase& plug);

}  // namespace kestrune
