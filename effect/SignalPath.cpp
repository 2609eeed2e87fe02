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
  const CompressorParams& P = params;
  const double fs = settings.sampleRate;
  Cache& c = cache_;
  const bool rateChanged = !c.valid || c.sampleRate != fs;

  if (!c.valid || c.oversampling != P.oversampling) {
    DesignBessel10(besselLeft, 0.2 / P.oversampling);
    DesignBessel10(besselRight, 0.2 / P.oversampling);
  }
  if (rateChanged) {
    c.p = std::exp(-62.83185307 / fs);
    c.meterCoefficient = std::exp(-4.60517018599 / (fs * 0.3));
  }
  if (!c.valid || c.inputDrive != P.inputDrive) c.thr = std::exp(-P.inputDrive / SixDbDivisor);
  const int slam = settings.slam;
  c.R = slam == 0 ? P.ratioValue : 500;
  const double k = slam == 0 ? 1 : 3;
  if (rateChanged || c.slam != slam || c.attackTime != P.attackTime)
    c.cA = TimeCoefficient(P.attackTime, k, fs);
  if (rateChanged || c.slam != slam || c.releaseTime != P.releaseTime)
    c.cR = TimeCoefficient(P.releaseTime, k, fs);
  if (rateChanged || c.hpfFrequency != P.hpfFrequency || c.hfValue != P.hfValue ||
      c.midFrequency != P.midFrequency || c.midGainDb != P.midGainDb) {
    DesignSidechainEqualiser(state, P, fs);
  }
  c.valid = true;
  c.sampleRate = fs;
  c.oversampling = P.oversampling;
  c.inputDrive = P.inputDrive;
  c.slam = slam;
  c.attackTime = P.attackTime;
  c.releaseTime = P.releaseTime;
  c.hpfFrequency = P.hpfFrequency;
  c.hfValue = P.hfValue;
  c.midFrequency = P.midFrequency;
  c.midGainDb = P.midGainDb;
}

}  // namespace kestrune
