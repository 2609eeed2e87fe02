#include <cmath>
#include <cstdint>

#include "PathState.h"
#include "KestruneIdentity.h"

namespace kestrune {

void ApplyParamChange(CompressorParams& params, int index, double v) {
  switch (index) {
    case kInput: params.inputDrive = v; break;
    case kOutput: params.outputGain = std::pow(10.0, v / 20); break;
    case kAttack: params.attackTime = v; break;
    case kRelease: params.releaseTime = v; break;
    case kRatio:
      switch (TruncateToInt32(v)) {
        case 0: params.ratioValue = 4; break;
        case 1: params.ratioValue = 8; break;
        case 2: params.ratioValue = 12; break;
        case 3: params.ratioValue = 20; break;
        default: break;
      }
      break;
    case kHpf: params.hpfFrequency = v; break;
    case kMix: params.mixPercent = v; break;
    case kMidFreq: params.midFrequency = v; break;
    case kMidGain: params.midGainDb = v; break;
    case kHf: params.hfValue = v; break;
    case kOversampling: params.oversampling = TruncateToInt32(v) != 0 ? 16 : 4; break;
    default: break;  // the switches are read by the processing itself
  }
}

namespace {
void DesignSection(BiquadSection& s, int32_t kind, double corner, double q, double gainDb) {
  s.kind = kind;
  s.corner = corner;
  s.q = q;
  s.gainDb = gainDb;
  DesignBiquad(s);
}
}  // namespace

void DesignSidechainEqualiser(CompressorState& S, const CompressorParams& P, double fs) {
  DesignSection(S.highPassLeft, BiquadHighPass, P.hpfFrequency / fs, 1, 1);
  DesignSection(S.highPassRight, BiquadHighPass, P.hpfFrequency / fs, 1, 1);
  DesignSection(S.highShelfLeft, BiquadHighShelf, 10000 / fs, 1, -P.hfValue);
  DesignSection(S.highShelfRight, BiquadHighShelf, 10000 / fs, 1, -P.hfValue);
  DesignSection(S.peakingLeft, BiquadPeaking, P.midFrequency / fs, 0.7, P.midGainDb);
  DesignSection(S.peakingRight, BiquadPeaking, P.midFrequency / fs, 0.7, P.midGainDb);
}

void PathState::Reset() {
  upLeft = BesselHistory();
  upRight = BesselHistory();
  downLeft = BesselHistory();
  downRight = BesselHistory();
}

}  // namespace kestrune
