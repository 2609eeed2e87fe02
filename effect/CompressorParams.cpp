#include <cmath>
#include <cstdint>

#include "CompressorPath.h"
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

void PathState::Reset() {
  upLeft = BesselHistory();
  upRight = BesselHistory();
  downLeft = BesselHistory();
  downRight = BesselHistory();
}

}  // namespace kestrune
