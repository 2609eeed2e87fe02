// The kept copy of the signal path (see SignalPathToday.cpp): the same class
// as kestrune::SignalPath, in its own namespace.
#pragma once

#include "CompressorPath.h"

namespace kestrune {
namespace today {

void ForceSignalPathCode(PathCode code);
PathCode SignalPathCodeInUse();

class SignalPath : public PathState {
 public:
  void Process(const BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames);

  struct TargetCounts {
    long long aboveThreshold = 0;
    long long exact = 0;
  };
  const TargetCounts& TargetGainCounts() const { return targetCounts_; }

 private:
  friend struct SignalPathKernels;
  template <int kOversampling>
  __attribute__((always_inline)) inline void RunFrames(const BlockSettings& settings,
                                                       const double* const* inputs,
                                                       double* const* outputs, int frames);
  void UpdateCoefficients(const BlockSettings& settings);

  struct Cache {
    bool valid = false;
    double sampleRate = 0, inputDrive = 0, attackTime = 0, releaseTime = 0, ratioValue = 0;
    double hpfFrequency = 0, hfValue = 0, midFrequency = 0, midGainDb = 0;
    int slam = 0, oversampling = 0;
    double p = 0, thr = 0, R = 0, cA = 0, cR = 0, meterCoefficient = 0;
  } cache_;
  TargetCounts targetCounts_;
};

}  // namespace today
}  // namespace kestrune
