// The straightforward signal path: every step in the order the algorithm
// states it, every coefficient recomputed every frame.
#include <algorithm>
#include <cmath>

#include "PathState.h"

namespace kestrune {

namespace {
double ToSingle(double x) { return static_cast<double>(static_cast<float>(x)); }

}  // namespace

void RunStraightforward(PathState& path, const BlockSettings& settings,
                        const double* const* inputs, double* const* outputs, int frames) {
  DenormalGuard denormals;
  const CompressorParams& P = path.params;
  CompressorState& S = path.state;
  BesselCoefficients& besselLeft = path.besselLeft;
  BesselCoefficients& besselRight = path.besselRight;
  BesselHistory& upLeft = path.upLeft;
  BesselHistory& upRight = path.upRight;
  BesselHistory& downLeft = path.downLeft;
  BesselHistory& downRight = path.downRight;

  DesignBessel10(besselLeft, 0.2 / P.oversampling);
  DesignBessel10(besselRight, 0.2 / P.oversampling);
  if (frames <= 0) return;

  const FixedGains gains;
  const double fs = settings.sampleRate;

  for (int f = 0; f < frames; ++f) {
    const double inLeft = inputs[0][f];
    const double inRight = inputs[1][f];
    const double sideLeft = inputs[2][f];
    const double sideRight = inputs[3][f];

    // Rate and parameter dependent coefficients.
    const double p = std::exp(-62.83185307 / fs);
    const double thr = std::exp(-P.inputDrive / SixDbDivisor);
    const int slam = settings.slam;
    double R, k;
    if (slam == 0) {
      R = P.ratioValue;
      k = 1;
    } else {
      R = 500;
      k = 3;
    }
    const double cA = TimeCoefficient(P.attackTime, k, fs);
    const double cR = TimeCoefficient(P.releaseTime, k, fs);

    // The sidechain equaliser.
    DesignSidechainEqualiser(S, P, fs);

    // Sidechain through high-pass, peaking, high shelf.
    const double srcLeft = settings.sidechain == 1 ? inLeft : sideLeft;
    double x = TickBiquad(S.highPassLeft, ToSingle(srcLeft));
    x = TickBiquad(S.peakingLeft, ToSingle(x));
    x = TickBiquad(S.highShelfLeft, ToSingle(x));
    S.sidechainLeft = ToSingle(x);
    const double srcRight = settings.sidechain == 1 ? inRight : sideRight;
    x = TickBiquad(S.highPassRight, ToSingle(srcRight));
    x = TickBiquad(S.peakingRight, ToSingle(x));
    x = TickBiquad(S.highShelfRight, ToSingle(x));
    S.sidechainRight = ToSingle(x);

    // Stereo-linked detector input.
    double d;
    if (settings.slam == 1) {
      d = std::max(std::fabs(ShapeDetector(S.sidechainRight)),
                   std::fabs(ShapeDetector(S.sidechainLeft))) *
          gains.slamDetectorBoost;
    } else {
      d = std::max(std::fabs(S.sidechainRight), std::fabs(S.sidechainLeft));
    }

    // Level and the hard-knee gain computer.
    const double level = DetectorLevel(d, p);
    const double target = TargetGain(level, thr, P.inputDrive, R);

    // Attack and release act on the gain itself.
    double g = SmoothGain(S.gainState, target, cA, cR);
    if (P.inputDrive == 0) g = 1;
    S.gainState = g;

    // Dry/wet.
    S.wetFactor = P.mixPercent / 100;
    S.dryFactor = 1 - S.wetFactor;
    S.dryLeft = inLeft;
    S.dryRight = inRight;

    // Oversampled saturation; only sub-frame 0 is kept.
    const int N = P.oversampling;
    for (int j = 0; j < N; ++j) {
      const double uL = j == 0 ? inLeft : 0;
      const double uR = j == 0 ? inRight : 0;
      TickBessel10(upLeft, uL, besselLeft);
      TickBessel10(upRight, uR, besselRight);
      const double vL = N * upLeft.y[0];
      const double vR = N * upRight.y[0];
      const double trim = gains.saturationInputTrim;
      const double sL = std::signbit(vL) ? ShapeNegative(vL * trim) : ShapePositive(vL * trim);
      const double wL = (P.inputDrive / 10 + 1) * sL * gains.saturationMakeup;
      const double sR = std::signbit(vR) ? ShapeNegative(vR * trim) : ShapePositive(vR * trim);
      const double wR = (P.inputDrive / 10 + 1) * sR * gains.saturationMakeup;
      TickBessel10(downLeft, wL, besselLeft);
      TickBessel10(downRight, wR, besselRight);
      if (j == 0) {
        S.saturationLeft = downLeft.y[0];
        S.saturationRight = downRight.y[0];
      }
    }

    // The gain applied through the transfer curve.
    const double mixLevel = gains.saturationMixLevel;
    const double wetL = ShapePositive(S.gainState) * (mixLevel * S.saturationLeft + inLeft);
    const double wetR = ShapePositive(S.gainState) * (mixLevel * S.saturationRight + inRight);

    // Outputs.
    if (settings.bypass == 0) {
      outputs[0][f] = (S.dryFactor * S.dryLeft + S.wetFactor * wetL) * P.outputGain;
      outputs[1][f] = (S.wetFactor * wetR + S.dryFactor * S.dryRight) * P.outputGain;
    } else {
      outputs[0][f] = inLeft;
      outputs[1][f] = inRight;
    }

    // Gain-reduction meter, while an editor exists.
    if (settings.meter) {
      const double r = std::exp(-4.60517018599 / (fs * 0.3));
      double v = std::fabs(1 - S.gainState);
      v = v > S.meterState ? v * 1.0125 : v * 0.9875;
      S.meterState = (S.meterState - v) * r + v;
    }
  }
  if (settings.meter) settings.meter->Post(S.meterState);
}

}  // namespace kestrune
