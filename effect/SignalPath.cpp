// The signal path the plug-in runs: the copies of its processing loop
// (SignalPathFrames.h), which copy runs, and the coefficients it caches.
#include "SignalPath.h"

#include <cmath>

#include "SignalPathFrames.h"

namespace kestrune {

namespace {

// The plug-in's tally of the gain computer's targets: none (the calls
// compile to nothing).
struct NoTally {
  void Above(int) {}
  void Exact() {}
};

PathCode DetectedCode() {
#if KESTRUNE_AVX2_KERNEL
  static const bool hasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return hasAvx2 ? PathCode::Avx2 : PathCode::Baseline;
#else
  return PathCode::Baseline;
#endif
}

}  // namespace

PathCode SignalPath::CodeInUse() const {
  if (code_ == PathCode::Baseline) return PathCode::Baseline;
  return DetectedCode();  // Automatic, or Avx2 where it can run (else Baseline)
}

// Only 4 and 16 come from the parameter; any other factor the pipeline has
// room for runs it with the factor read at run time.
bool SignalPath::PipelineRunsFactor() const {
  const int factor = params.oversampling;
  return factor == 4 || factor == 16 || (factor >= 1 && factor <= kMaxOversampling);
}

void SignalPath::Process(const BlockSettings& settings, const double* const* inputs,
                         double* const* outputs, int frames) {
  NoTally none;
  ProcessTallying(settings, inputs, outputs, frames, none);
}

void SignalPath::UpdateCoefficients(const BlockSettings& settings) {
  const double sampleRate = settings.sampleRate;
  Cache& cached = cache_;
  const bool rateChanged = !cached.valid || cached.sampleRate != sampleRate;

  if (!cached.valid || cached.oversampling != params.oversampling) {
    DesignBessel10(besselLeft, 0.2 / params.oversampling);
    DesignBessel10(besselRight, 0.2 / params.oversampling);
  }
  if (rateChanged) {
    cached.levelCoefficient = std::exp(-62.83185307 / sampleRate);
    cached.meterCoefficient = std::exp(-4.60517018599 / (sampleRate * 0.3));
  }
  if (!cached.valid || cached.inputDrive != params.inputDrive)
    cached.threshold = std::exp(-params.inputDrive / SixDbDivisor);
  const int slam = settings.slam;
  cached.ratio = slam == 0 ? params.ratioValue : 500;
  const double speedFactor = slam == 0 ? 1 : 3;  // SLAM: three times faster
  if (rateChanged || cached.slam != slam || cached.attackTime != params.attackTime)
    cached.attackCoefficient = TimeCoefficient(params.attackTime, speedFactor, sampleRate);
  if (rateChanged || cached.slam != slam || cached.releaseTime != params.releaseTime)
    cached.releaseCoefficient = TimeCoefficient(params.releaseTime, speedFactor, sampleRate);
  if (rateChanged || cached.hpfFrequency != params.hpfFrequency ||
      cached.hfValue != params.hfValue || cached.midFrequency != params.midFrequency ||
      cached.midGainDb != params.midGainDb) {
    DesignSidechainEqualiser(state, params, sampleRate);
  }
  cached.valid = true;
  cached.sampleRate = sampleRate;
  cached.oversampling = params.oversampling;
  cached.inputDrive = params.inputDrive;
  cached.slam = slam;
  cached.attackTime = params.attackTime;
  cached.releaseTime = params.releaseTime;
  cached.hpfFrequency = params.hpfFrequency;
  cached.hfValue = params.hfValue;
  cached.midFrequency = params.midFrequency;
  cached.midGainDb = params.midGainDb;
}

}  // namespace kestrune
