// The compressor's signal path, independent of any plug-in format.
//
// Per frame: sidechain equaliser (high-pass, peaking, high shelf, with
// single-precision steps) -> stereo-linked detector -> hard-knee gain
// computer -> attack/release smoothing of the gain -> 4x or 16x oversampled
// saturation between Bessel filters -> gain through the transfer curve ->
// dry/wet mix -> output gain -> bypass -> gain-reduction meter.
//
// This header holds what every implementation of it shares: the values
// derived from the parameters, the per-block settings, the state kept
// between frames and blocks, and the small stages of the gain computer.
// Two implementations produce the same output bit for bit:
//   RunStraightforward (StraightforwardPath.cpp): every coefficient
//                  recomputed every frame exactly as the algorithm is stated.
//                  ReferencePath (ReferencePath.h, not shipped) runs it as the
//                  yardstick of tests and benchmarks.
//   SignalPath (SignalPath.h): the one the plug-in runs. It recomputes a
//                  coefficient only when its inputs changed, runs left and
//                  right together, keeps the Bessel flush off the filters'
//                  dependent chains and runs the up- and down-sampling
//                  filters side by side; on AVX2 processors (Linux and
//                  Windows builds) it runs a copy compiled for AVX2, with
//                  both filters in one four-lane vector.
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

// The four fixed gains of the path, as powers of ten of their decibel value
// / 20. The algorithm states each as a power function's result, so each
// implementation computes them with std::pow (the bits of a literal could
// differ in the last place).
//   SLAM detector boost, 10^0.55 (+11 dB): the shaped sidechain peak in SLAM
//     mode is raised by this before the level detector.
//   Saturation input trim, 10^-0.5 (-10 dB): the oversampled signal is
//     lowered by this before it reads the saturation curves.
//   Saturation makeup, 10^2.2 (+44 dB): the curves' output is raised by this
//     (times the drive factor) before the down-sampling filter.
//   Saturation mix level, 10^-5 (-100 dB): how much of the decimated
//     saturation enters the wet signal beside the dry input.
struct FixedGains {
  double slamDetectorBoost = std::pow(10.0, 0.55);
  double saturationInputTrim = std::pow(10.0, -0.5);
  double saturationMakeup = std::pow(10.0, 2.2);
  double saturationMixLevel = std::pow(10.0, -5.0);
};

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

// The straightforward implementation, also the signal path's route for an
// oversampling factor its pipeline has no room for (only set directly on the
// values: the parameter gives 4 or 16).
// inputs[0..3]: main left, main right, sidechain left, sidechain right;
// outputs[0..1]: left, right. Inputs may alias outputs.
void RunStraightforward(PathState& path, const BlockSettings& settings,
                        const double* const* inputs, double* const* outputs, int frames);

}  // namespace kestrune
