// The compressor's signal path, independent of any plug-in format.
//
// Per frame: sidechain equaliser (high-pass, peaking, high shelf, with
// single-precision steps) -> stereo-linked detector -> hard-knee gain
// computer -> attack/release smoothing of the gain -> 4x or 16x oversampled
// saturation between Bessel filters -> gain through the transfer curve ->
// dry/wet mix -> output gain -> bypass -> gain-reduction meter.
//
// Two implementations produce the same output bit for bit:
//   ReferencePath: the straightforward one, every coefficient recomputed
//                  every frame exactly as the algorithm is stated. Kept as
//                  the yardstick for tests and benchmarks.
//   SignalPath:    the one the plug-in runs. It recomputes a coefficient only
//                  when its inputs changed, runs left and right together,
//                  keeps the Bessel flush off the filters' dependent chains
//                  and runs the up- and down-sampling filters side by side;
//                  on AVX2 processors (Linux and Windows builds) it runs a
//                  copy compiled for AVX2, with both filters in one
//                  four-lane vector.
// Both are driven by the effect inside the plug-in lock: parameter-derived
// values in `params` change only between blocks.
#pragma once

#include <algorithm>
#include <cmath>

#include "DenormalGuard.h"
#include "EditorLink.h"
#include "KestruneCurves.h"
#include "KestruneFilters.h"
#include "SystemMath.h"

namespace kestrune {

// Levels and the threshold count 6 units per doubling: exp(x / divisor) = 2^(x/6).
constexpr double SixDbDivisor = 8.65617025;

// ---- Stages of the gain computer, shared by both implementations ----

// Attack or release coefficient for a negated time in seconds; k = 3 makes
// it three times faster (SLAM). A time of 0 gives 0 (instant).
inline double TimeCoefficient(double negatedSeconds, double k, double sampleRate) {
  return negatedSeconds == 0 ? 0 : std::exp(1 / ((negatedSeconds / k) * sampleRate));
}

// Peaks pass as they are; signals below about 1 - p are raised by the square
// root. p is the 10 Hz one-pole coefficient.
inline double DetectorLevel(double d, double p) {
  const double e = d * (1 - p);
  return d > std::sqrt(e) ? d : std::sqrt(e * (1 + p));
}

// Hard knee: (level / thr)^(1/R - 1) above the threshold, 1 below it (and
// for an undefined level).
inline double TargetGain(double level, double thr, double inputDrive, double R) {
  if (!(level > thr)) return 1;
  const double L = SystemLog(level) * SixDbDivisor;
  return SystemExp(((L + inputDrive) / R - inputDrive) / SixDbDivisor) / level;
}

// Attack lets the gain fall by at most the factor cA per frame, release lets
// it rise by at most 1/cR.
inline double SmoothGain(double g0, double target, double cA, double cR) {
  return g0 > target ? std::max(target, g0 * cA) : std::min(g0 / cR, target);
}

// Values derived from the parameters, written only through ApplyParamChange.
// The constructor's drive of -10 and output gain of 0 keep the effect silent
// until the parameters have been reported once.
struct CompressorParams {
  double inputDrive = -10;
  double outputGain = 0;
  double attackTime = 0;    // seconds, negated; 0 = instant
  double releaseTime = 0;   // seconds, negated
  double ratioValue = 0;
  double hpfFrequency = 0;  // Hz
  double mixPercent = 0;
  double midFrequency = 500;  // Hz
  double midGainDb = 0;
  double hfValue = 0;       // shelf gain in dB is -hfValue
  int oversampling = 4;
};

// The parameter reaction: converts the plain value of parameter `index` into
// the derived value it drives. Indices without a derived value are ignored.
void ApplyParamChange(CompressorParams& params, int index, double plainValue);

// What the effect reads directly for each block (none of these can change
// during a block, which runs inside the plug-in lock).
struct BlockSettings {
  double sampleRate = 44100;
  int slam = 0;          // integer value of "SLAM"
  int sidechain = 1;     // 1: detector fed from inputs 1-2; 0: from inputs 3-4
  int bypass = 0;        // 1: outputs copy the main inputs
  EditorFeed* meter = nullptr;  // the meter runs only while an editor shows it
};

// State both implementations keep between frames.
struct CompressorState {
  double gainState = 1;
  double meterState = 1;
  double wetFactor = 0, dryFactor = 0;
  double dryLeft = 0, dryRight = 0;
  double sidechainLeft = 0, sidechainRight = 0;
  double saturationLeft = 0, saturationRight = 0;
  BiquadSection highPassLeft, highPassRight;
  BiquadSection highShelfLeft, highShelfRight;
  BiquadSection peakingLeft, peakingRight;
};

// Redesigns the six sidechain sections from the parameters: high-pass at HPF
// (q 1), high shelf at 10 kHz (gain -HF), peaking at MID FREQ (q 0.7, MID
// GAIN). The filter states are left alone.
void DesignSidechainEqualiser(CompressorState& state, const CompressorParams& params,
                              double sampleRate);

// What both implementations keep between blocks: the parameter-derived
// values, the per-frame state and the filters.
struct PathState {
  // Clears the four Bessel histories; nothing else.
  void Reset();
  // The up-sampling filter's history of channel 0 (left) or 1 (right).
  BesselHistory UpSamplingHistory(int channel) const { return channel == 0 ? upLeft : upRight; }

  CompressorParams params;
  CompressorState state;
  BesselCoefficients besselLeft, besselRight;
  BesselHistory upLeft, upRight, downLeft, downRight;
};

// inputs[0..3]: main left, main right, sidechain left, sidechain right;
// outputs[0..1]: left, right. Inputs may alias outputs.
void RunStraightforward(PathState& path, const BlockSettings& settings,
                        const double* const* inputs, double* const* outputs, int frames);

class ReferencePath : public PathState {
 public:
  void Process(const BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames);
};

// Which compiled copy of SignalPath's processing loop runs. Automatic picks
// the AVX2 copy once, at first use, when the processor has AVX2 and the
// build has that copy (x86-64 ELF builds); Baseline is the copy for any
// x86-64 processor. Both give the same bits. Tests force either copy;
// forcing Avx2 where it cannot run falls back to Baseline.
enum class PathCode { Automatic, Baseline, Avx2 };
void ForceSignalPathCode(PathCode code);
// The copy Process runs now (never Automatic).
PathCode SignalPathCodeInUse();

class SignalPath : public PathState {
 public:
  void Process(const BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames);

  // Test hook: since construction, the frames whose level was above the
  // threshold (INPUT not 0), and those of them for which the exact target
  // gain had to be computed because a conservative bound could not show
  // that it leaves the smoothed gain unchanged.
  struct TargetCounts {
    long long aboveThreshold = 0;
    long long exact = 0;
  };
  const TargetCounts& TargetGainCounts() const { return targetCounts_; }

 private:
  friend struct SignalPathKernels;  // the per-instruction-set copies
  // The processing loop; inlined into each copy, never called on its own.
  // kWide: the filters in four-lane vectors (for the AVX2 copy).
  template <int kOversampling, bool kWide>
  __attribute__((always_inline)) inline void RunFrames(const BlockSettings& settings, const double* const* inputs,
                 double* const* outputs, int frames);
  void UpdateCoefficients(const BlockSettings& settings);

  // Coefficients that only change with their inputs, and those inputs.
  struct Cache {
    bool valid = false;
    double sampleRate = 0, inputDrive = 0, attackTime = 0, releaseTime = 0, ratioValue = 0;
    double hpfFrequency = 0, hfValue = 0, midFrequency = 0, midGainDb = 0;
    int slam = 0, oversampling = 0;
    double p = 0, thr = 0, R = 0, cA = 0, cR = 0, meterCoefficient = 0;
  } cache_;
  TargetCounts targetCounts_;
};

}  // namespace kestrune
