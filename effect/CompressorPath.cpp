// The signal path the plug-in runs. Same arithmetic, operation for operation,
// as ReferencePath, arranged for speed:
//  - coefficients that depend only on the sample rate and the parameters are
//    computed when those change, not every frame (same inputs, same bits);
//  - left and right run together in two-lane vectors (per-lane IEEE
//    arithmetic, no fused operations, so each lane equals the scalar result);
//  - the Bessel histories live in mirrored ring buffers during a block
//    instead of being shifted every sub-frame.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "CompressorPath.h"

namespace kestrune {

namespace {

typedef double Stereo __attribute__((vector_size(16)));
typedef int64_t StereoMask __attribute__((vector_size(16)));
typedef float StereoSingle __attribute__((vector_size(8)));

inline Stereo Both(double v) { return Stereo{v, v}; }

inline Stereo ToSingle(Stereo x) {
  return __builtin_convertvector(__builtin_convertvector(x, StereoSingle), Stereo);
}

struct StereoBiquad {
  Stereo b0, b1, b2, a1, a2, z1, z2;

  void Load(const BiquadSection& left, const BiquadSection& right) {
    b0 = Stereo{left.b0, right.b0};
    b1 = Stereo{left.b1, right.b1};
    b2 = Stereo{left.b2, right.b2};
    a1 = Stereo{left.a1, right.a1};
    a2 = Stereo{left.a2, right.a2};
    z1 = Stereo{left.z1, right.z1};
    z2 = Stereo{left.z2, right.z2};
  }
  void Store(BiquadSection& left, BiquadSection& right) const {
    left.z1 = z1[0];
    right.z1 = z1[1];
    left.z2 = z2[0];
    right.z2 = z2[1];
  }
  Stereo Tick(Stereo x) {
    Stereo y = b0 * x + z1;
    z1 = b1 * x + z2 - a1 * y;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

// A stereo Bessel history as a ring: y_k = ring[position + k] for k = 0..10,
// every value written twice (at i and i + 11) so the eleven are contiguous.
struct StereoBessel {
  Stereo ring[22];
  int position = 0;
  Stereo c[11];
  Stereo g;

  void Load(const BesselHistory& left, const BesselHistory& right, const BesselCoefficients& kl,
            const BesselCoefficients& kr) {
    position = 0;
    for (int k = 0; k <= 10; ++k) ring[k] = ring[k + 11] = Stereo{left.y[k], right.y[k]};
    for (int k = 0; k <= 10; ++k) c[k] = Stereo{kl.c[k], kr.c[k]};
    g = Stereo{kl.g, kr.g};
  }
  void Store(BesselHistory& left, BesselHistory& right) const {
    for (int k = 0; k <= 10; ++k) {
      left.y[k] = ring[position + k][0];
      right.y[k] = ring[position + k][1];
    }
  }
  Stereo Newest() const { return ring[position]; }

  // y0 = c1 y1 + g x, then + c2 y2 ... + c10 y10 in that order, then the
  // tiny-value flush. Returns the new y0.
  Stereo Tick(Stereo x) {
    const Stereo* y = &ring[position];  // before the step, y[k - 1] is y_k
    Stereo sum = c[1] * y[0] + g * x;
    sum += c[2] * y[1];
    sum += c[3] * y[2];
    sum += c[4] * y[3];
    sum += c[5] * y[4];
    sum += c[6] * y[5];
    sum += c[7] * y[6];
    sum += c[8] * y[7];
    sum += c[9] * y[8];
    sum += c[10] * y[9];
    const Stereo out = Flush(sum);
    position = position == 0 ? 10 : position - 1;
    ring[position] = out;
    ring[position + 11] = out;
    return out;
  }

  // |v| < 2^-54, infinities and NaN become +0, lane by lane.
  static Stereo Flush(Stereo v) {
    const Stereo magnitude = (Stereo)((StereoMask)v & StereoMask{INT64_MAX, INT64_MAX});
    const StereoMask keep =
        (magnitude >= Both(0x1p-54)) & (magnitude <= Both(1.7976931348623157e308));
    return (Stereo)((StereoMask)v & keep);
  }
};

void DesignSection(BiquadSection& s, int32_t kind, double corner, double q, double gainDb) {
  s.kind = kind;
  s.corner = corner;
  s.q = q;
  s.gainDb = gainDb;
  DesignBiquad(s);
}

// One side of the saturation: the curve by the sign of v, then the drive.
inline double Saturate(double v, double D3, double driveFactor, double D2) {
  const double shaped = std::signbit(v) ? ShapeNegative(v * D3) : ShapePositive(v * D3);
  return driveFactor * shaped * D2;
}

const double D1 = std::pow(10.0, 0.55);
const double D2 = std::pow(10.0, 2.2);
const double D3 = std::pow(10.0, -0.5);
const double D4 = std::pow(10.0, -5.0);

}  // namespace

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
    CompressorState& S = state;
    DesignSection(S.highPassLeft, BiquadHighPass, P.hpfFrequency / fs, 1, 1);
    DesignSection(S.highPassRight, BiquadHighPass, P.hpfFrequency / fs, 1, 1);
    DesignSection(S.highShelfLeft, BiquadHighShelf, 10000 / fs, 1, -P.hfValue);
    DesignSection(S.highShelfRight, BiquadHighShelf, 10000 / fs, 1, -P.hfValue);
    DesignSection(S.peakingLeft, BiquadPeaking, P.midFrequency / fs, 0.7, P.midGainDb);
    DesignSection(S.peakingRight, BiquadPeaking, P.midFrequency / fs, 0.7, P.midGainDb);
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

void SignalPath::Process(const BlockSettings& settings, const double* const* inputs,
                         double* const* outputs, int frames) {
  DenormalGuard denormals;
  UpdateCoefficients(settings);
  if (frames <= 0) return;
  switch (params.oversampling) {
    case 4: RunFrames<4>(settings, inputs, outputs, frames); break;
    case 16: RunFrames<16>(settings, inputs, outputs, frames); break;
    default: RunFrames<0>(settings, inputs, outputs, frames); break;
  }
}

// kOversampling 0: the factor is read from the parameters at run time.
template <int kOversampling>
void SignalPath::RunFrames(const BlockSettings& settings, const double* const* inputs,
                           double* const* outputs, int frames) {
  const CompressorParams& P = params;
  CompressorState& S = state;
  const Cache& c = cache_;
  const int N = kOversampling > 0 ? kOversampling : P.oversampling;
  const double gainN = N;

  StereoBiquad highPass, peaking, highShelf;
  highPass.Load(S.highPassLeft, S.highPassRight);
  peaking.Load(S.peakingLeft, S.peakingRight);
  highShelf.Load(S.highShelfLeft, S.highShelfRight);
  StereoBessel up, down;
  up.Load(upLeft, upRight, besselLeft, besselRight);
  down.Load(downLeft, downRight, besselLeft, besselRight);

  const double wetFactor = P.mixPercent / 100;
  const double dryFactor = 1 - wetFactor;
  S.wetFactor = wetFactor;
  S.dryFactor = dryFactor;
  const double driveFactor = P.inputDrive / 10 + 1;
  const bool slam = settings.slam == 1;
  const bool noReduction = P.inputDrive == 0;
  const bool bypass = settings.bypass != 0;
  IEditorLink* const editor = settings.editor;
  const bool showMeter = editor && settings.meterControlIndex >= 0 &&
                         settings.meterControlIndex < editor->ControlCount();
  const double* sourceLeft = settings.sidechain == 1 ? inputs[0] : inputs[2];
  const double* sourceRight = settings.sidechain == 1 ? inputs[1] : inputs[3];

  double gainState = S.gainState;
  double meterState = S.meterState;
  Stereo saturation = Stereo{S.saturationLeft, S.saturationRight};
  Stereo sidechain = Stereo{S.sidechainLeft, S.sidechainRight};

  for (int f = 0; f < frames; ++f) {
    const Stereo in = Stereo{inputs[0][f], inputs[1][f]};

    // Sidechain equaliser: high-pass, peaking, high shelf, in single-precision steps.
    Stereo x = highPass.Tick(ToSingle(Stereo{sourceLeft[f], sourceRight[f]}));
    x = peaking.Tick(ToSingle(x));
    x = highShelf.Tick(ToSingle(x));
    sidechain = ToSingle(x);

    // Stereo-linked detector, level, gain computer and smoothing.
    double d;
    if (slam) {
      d = std::max(std::fabs(ShapeDetector(sidechain[1])), std::fabs(ShapeDetector(sidechain[0]))) *
          D1;
    } else {
      d = std::max(std::fabs(sidechain[1]), std::fabs(sidechain[0]));
    }
    const double target = TargetGain(DetectorLevel(d, c.p), c.thr, P.inputDrive, c.R);
    gainState = noReduction ? 1 : SmoothGain(gainState, target, c.cA, c.cR);

    // Oversampled saturation; only sub-frame 0 is kept.
    for (int j = 0; j < N; ++j) {
      const Stereo v = gainN * up.Tick(j == 0 ? in : Both(0));
      const Stereo w = Stereo{Saturate(v[0], D3, driveFactor, D2),
                              Saturate(v[1], D3, driveFactor, D2)};
      const Stereo out = down.Tick(w);
      if (j == 0) saturation = out;
    }

    // The gain through the transfer curve, dry/wet, output gain, bypass.
    const double curveGain = ShapePositive(gainState);
    const Stereo wet = Both(curveGain) * (Both(D4) * saturation + in);
    if (!bypass) {
      outputs[0][f] = (dryFactor * in[0] + wetFactor * wet[0]) * P.outputGain;
      outputs[1][f] = (wetFactor * wet[1] + dryFactor * in[1]) * P.outputGain;
    } else {
      outputs[0][f] = in[0];
      outputs[1][f] = in[1];
    }

    // Gain-reduction meter, while an editor exists.
    if (editor) {
      double v = std::fabs(1 - gainState);
      v = v > meterState ? v * 1.0125 : v * 0.9875;
      meterState = (meterState - v) * c.meterCoefficient + v;
      if (showMeter) editor->SetControlValue(settings.meterControlIndex, meterState);
    }
    if (f == frames - 1) {
      S.dryLeft = in[0];
      S.dryRight = in[1];
    }
  }

  S.gainState = gainState;
  S.meterState = meterState;
  S.saturationLeft = saturation[0];
  S.saturationRight = saturation[1];
  S.sidechainLeft = sidechain[0];
  S.sidechainRight = sidechain[1];
  highPass.Store(S.highPassLeft, S.highPassRight);
  peaking.Store(S.peakingLeft, S.peakingRight);
  highShelf.Store(S.highShelfLeft, S.highShelfRight);
  up.Store(upLeft, upRight);
  down.Store(downLeft, downRight);
}

}  // namespace kestrune
