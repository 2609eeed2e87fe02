// A kept copy of the signal path as it was before its latest optimisation
// round, so the benchmark compares the current path with it in one run (the
// same machine, the same moment). Only the namespace and the include differ
// from the copy it was taken from; it is not used by the plug-in.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include <emmintrin.h>

#include "SignalPathToday.h"

namespace kestrune {
namespace today {

namespace {

typedef double Stereo __attribute__((vector_size(16)));

inline Stereo Both(double v) { return Stereo{v, v}; }

inline Stereo ToSingle(Stereo x) { return (Stereo)_mm_cvtps_pd(_mm_cvtpd_ps((__m128d)x)); }

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

// All ones in the lanes FlushTiny keeps (finite, magnitude >= 2^-54).
inline __m128d KeepMask(Stereo v) {
  const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), (__m128d)v);
  return _mm_and_pd(_mm_cmpge_pd(magnitude, _mm_set1_pd(0x1p-54)),
                    _mm_cmple_pd(magnitude, _mm_set1_pd(1.7976931348623157e308)));
}

// The Bessel coefficients of both channels, shared by the up- and the
// down-sampling filter.
struct StereoBesselCoefficients {
  Stereo c[11];
  Stereo g;

  void Load(const BesselCoefficients& left, const BesselCoefficients& right) {
    for (int k = 0; k <= 10; ++k) c[k] = Stereo{left.c[k], right.c[k]};
    g = Stereo{left.g, right.g};
  }
};

// A stereo Bessel history kept as a tape: each step appends its (flushed)
// output, so y_k (k = 0 the newest) is top[-1 - k]. When the tape is full
// its last eleven values move back to the start. During a block the write
// position and the newest unflushed sum live in a BesselRun, in registers,
// so the dependency from one step to the next does not pass through memory.
template <int kCapacity>
struct StereoBesselTape {
  Stereo values[kCapacity];

  Stereo* Load(const BesselHistory& left, const BesselHistory& right) {
    for (int k = 0; k <= 10; ++k) values[10 - k] = Stereo{left.y[k], right.y[k]};
    return values + 11;
  }
  static void Store(const Stereo* top, BesselHistory& left, BesselHistory& right) {
    for (int k = 0; k <= 10; ++k) {
      const Stereo y = top[-1 - k];
      left.y[k] = y[0];
      right.y[k] = y[1];
    }
  }
  // Makes room for `steps` more outputs after `top`; returns the new top.
  Stereo* Reserve(Stereo* top, int steps) {
    if (top + steps <= values + kCapacity) return top;
    std::memmove(values, top - 11, 11 * sizeof(Stereo));
    return values + 11;
  }
};

struct BesselRun {
  Stereo* top;    // where the next output goes; top[-1] is y_1, flushed
  Stereo sum;     // y_1 before the flush
  __m128d keep;   // KeepMask(sum): y_1 = sum & keep
  __m128d smallest;  // speculative steps: smallest |sum| so far

  void Start(Stereo* tapeTop) {
    top = tapeTop;
    sum = top[-1];
    keep = _mm_castsi128_pd(_mm_set1_epi32(-1));
  }
  // Before speculative steps: sum becomes the flushed y_1 itself (with an
  // all-ones mask; the same filter state, see BesselStep).
  void StartSpeculating() { Start(top); }
};

// After speculative steps of both runs: false only if no flush could have
// acted, i.e. every sum was finite with magnitude >= 2^-54. Tiny, zero and
// NaN sums show in `smallest` (a NaN compares false); a non-finite sum, once
// there, stays in each later sum (c1 times it is non-finite too), so the
// newest sums show it. Exact zeros, which the flush would leave alone if
// +0, are counted too: a needless rerun is only slower.
inline bool FlushMayHaveActed(const BesselRun& a, const BesselRun& b) {
  const __m128d signMask = _mm_set1_pd(-0.0);
  const __m128d finite = _mm_and_pd(
      _mm_cmple_pd(_mm_andnot_pd(signMask, (__m128d)a.sum), _mm_set1_pd(1.7976931348623157e308)),
      _mm_cmple_pd(_mm_andnot_pd(signMask, (__m128d)b.sum), _mm_set1_pd(1.7976931348623157e308)));
  const __m128d large = _mm_cmpge_pd(_mm_min_pd(a.smallest, b.smallest), _mm_set1_pd(0x1p-54));
  return _mm_movemask_pd(_mm_and_pd(finite, large)) != 3;
}

// One step of a stereo Bessel filter:
// y0 = FlushTiny(c1 y1 + g x + c2 y2 + ... + c10 y10), in that order.
// The flush is kept off the dependent chain from one step to the next: the
// first product is taken from the unflushed sum and masked afterwards,
// (c1 sum) & keep, which the processor computes alongside the product.
// It equals c1 FlushTiny(sum) except that a flushed lane gives +0 where
// c1 * +0 may be -0; a zero's sign cannot change a later sum other than by
// the sign of a zero result (x + -0 = x + +0 = x for x != 0), and a zero
// result is flushed to +0 anyway. The same holds for a zero input, whose
// term g * 0 (g is finite and positive) a silent step leaves out.
// The tape keeps flushed outputs, as the history states them.
//
// A speculative step (kSpeculative) leaves the flush out altogether: the
// first product is c1 y_1 straight from the unmasked sum, and the sum goes
// to the tape as it is; it only keeps the smallest |sum| (two instructions
// instead of the mask's six, none on the chain). While no flush could have
// acted (FlushMayHaveActed) every speculative sum was its own flushed value,
// so each step saw exactly the history the exact step sees and wrote the
// same tape; the caller reruns the frame with exact steps otherwise. Exact
// and speculative steps may follow each other once run.sum is a flushed
// value (BesselRun::StartSpeculating; the mask of all ones then differs from
// the exact mask only for a +0, by a zero's sign as above).
template <bool kSilent, bool kSpeculative = false>
inline Stereo BesselStep(const StereoBesselCoefficients& k, BesselRun& run, Stereo x) {
  const Stereo* y = run.top;
  const Stereo* c = k.c;
  // Hides where y and c point, so the older outputs and the coefficients are
  // read from memory at each step: the registers stay free for the values
  // on the dependent chains instead of holding (and spilling) those.
  __asm__("" : "+r"(y), "+r"(c));
  const Stereo first =
      kSpeculative ? c[1] * run.sum : (Stereo)_mm_and_pd((__m128d)(c[1] * run.sum), run.keep);
  Stereo sum = kSilent ? first : first + k.g * x;
  sum += c[2] * y[-2];
  sum += c[3] * y[-3];
  sum += c[4] * y[-4];
  sum += c[5] * y[-5];
  sum += c[6] * y[-6];
  sum += c[7] * y[-7];
  sum += c[8] * y[-8];
  sum += c[9] * y[-9];
  sum += c[10] * y[-10];
  run.sum = sum;
  if (kSpeculative) {
    run.smallest =
        _mm_min_pd(run.smallest, _mm_andnot_pd(_mm_set1_pd(-0.0), (__m128d)sum));
    *run.top++ = sum;
    return sum;
  }
  run.keep = KeepMask(sum);
  const Stereo output = (Stereo)_mm_and_pd((__m128d)sum, run.keep);
  *run.top++ = output;
  return output;
}

// Branch-free selection: the compare gives an all-ones or all-zeros mask, so
// an unpredictable decision costs no pipeline flush. Greater is false for
// NaN, exactly as the C++ comparison.
inline __m128d Greater(double a, double b) { return _mm_cmpgt_sd(_mm_set_sd(a), _mm_set_sd(b)); }
inline double Select(__m128d mask, double ifTrue, double ifFalse) {
  return _mm_cvtsd_f64(
      _mm_or_pd(_mm_and_pd(mask, _mm_set_sd(ifTrue)), _mm_andnot_pd(mask, _mm_set_sd(ifFalse))));
}

// DetectorLevel without branches.
inline double LevelOf(double d, double p) {
  const double e = d * (1 - p);
  return Select(Greater(d, std::sqrt(e)), d, std::sqrt(e * (1 + p)));
}

// SmoothGain without branches: std::max(target, x) is x only when
// x > target, std::min(y, target) is target only when y > target.
inline double Smoothed(double g0, double target, double cA, double cR) {
  const double falling = g0 * cA;
  const double rising = g0 / cR;
  const double attack = Select(Greater(falling, target), falling, target);
  const double release = Select(Greater(rising, target), target, rising);
  return Select(Greater(g0, target), attack, release);
}

typedef unsigned long long StereoBits __attribute__((vector_size(16)));

inline Stereo SelectLanes(__m128d mask, Stereo ifTrue, Stereo ifFalse) {
  return (Stereo)_mm_or_pd(_mm_and_pd(mask, (__m128d)ifTrue),
                           _mm_andnot_pd(mask, (__m128d)ifFalse));
}

// ln x in each lane for a normal positive x, within 3e-8: the exponent from
// the bits, the mantissa m folded into [sqrt(1/2), sqrt(2)] and
// 2 atanh(s), s = (m-1)/(m+1), |s| < 0.1716, to s^7 (the rest is below
// 2 s^9 / 9 / (1 - s^2) < 3e-8). Only ever used to decide that an exact
// value is not needed.
inline Stereo LogEstimates(Stereo x) {
  const StereoBits bits = (StereoBits)x;
  const StereoBits biased = (bits >> 52) | 0x4330000000000000ULL;  // 2^52 + biased exponent
  Stereo m = (Stereo)((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
  const __m128d fold = _mm_cmpgt_pd((__m128d)m, _mm_set1_pd(1.4142135623730951));
  m = SelectLanes(fold, m * Both(0.5), m);
  const Stereo exponent = ((Stereo)biased - Both(0x1p52 + 1023)) +
                          (Stereo)_mm_and_pd(fold, _mm_set1_pd(1.0));
  const Stereo s = (m - Both(1)) / (m + Both(1));
  const Stereo s2 = s * s;
  const Stereo series =
      s * ((Both(2) + s2 * Both(2.0 / 3)) + (s2 * s2) * (Both(2.0 / 5) + s2 * Both(2.0 / 7)));
  return exponent * Both(0.6931471805599453) + series;
}

// e^x in each lane for -708 <= x <= 0, relative error below 3e-6 whatever
// the rounding mode: 2^k e^r with k = x / ln 2 rounded by the 1.5 * 2^52
// shift (whose low bits then hold k), |r| <= ln 2, and e^r to r^7 (the rest
// is below 0.694^8 / 8! * 2 < 3e-6; about 1e-9 in the default rounding
// mode, where |r| <= 0.347).
inline Stereo ExpEstimates(Stereo x) {
  const Stereo shifted = x * Both(1.4426950408889634) + Both(0x1.8p52);
  const Stereo k = shifted - Both(0x1.8p52);
  const Stereo r = x - k * Both(0.6931471805599453);
  const Stereo r2 = r * r;
  const Stereo r4 = r2 * r2;
  const Stereo low = (Both(1) + r) + r2 * (Both(1.0 / 2) + r * Both(1.0 / 6));
  const Stereo high = (Both(1.0 / 24) + r * Both(1.0 / 120)) +
                      r2 * (Both(1.0 / 720) + r * Both(1.0 / 5040));
  const StereoBits scale = ((StereoBits)shifted << 52) + (1023ULL << 52);  // 2^k
  return (low + r4 * high) * (Stereo)scale;
}

// Bounds on the gain computer's target, so that the smoothing can skip the
// exact TargetGain (a log and an exp) wherever its value cannot matter:
// Smoothed gives g0 cA whenever the target is below g0 cA and g0, and g0 / cR
// whenever it is above g0 / cR and g0, whatever its exact value. In real
// arithmetic ln target = (1/R - 1) (ln level + drive / K); its estimate
// (relative error below 4e-6, see LogEstimates and ExpEstimates) widened by a
// relative margin of 1e-4 encloses the exact TargetGain, whose own rounding
// stays below 1e-11 relative in the ranges allowed here: R in [1, 1e6],
// |drive| <= 100 (so thr >= e^-11.6, every level above it is normal and
// ln target >= -703) and level <= 1e300 (so the exp in TargetGain cannot
// overflow). Outside those ranges, NaN and infinity included, the exact
// target is computed at once. The estimate never becomes an output value.
struct TargetBounds {
  double thr, drive, R;
  double slope;       // 1/R - 1
  double driveOverK;  // drive / K = -ln thr
  bool usable;

  TargetBounds(double thrIn, double driveIn, double RIn)
      : thr(thrIn), drive(driveIn), R(RIn), slope(1 / RIn - 1),
        driveOverK(driveIn / SixDbDivisor),
        usable(RIn >= 1 && RIn <= 1e6 && std::fabs(driveIn) <= 100) {}

  // For frames first and first + 1 of `levels`:
  // lower[n] <= TargetGain(levels[n]) <= upper[n], both equal to the exact
  // target where that was computed (1 at or below the threshold). Counts
  // the frames above the threshold and those whose exact target was
  // computed. `second` is false when only the first frame exists.
  void OfPair(const double* levels, int first, bool second, double* lower, double* upper,
              long long& aboveThreshold, long long& exact) const {
    const Stereo level = Stereo{levels[first], second ? levels[first + 1] : 0.0};
    const __m128d above = _mm_cmpgt_pd((__m128d)level, _mm_set1_pd(thr));
    const Stereo safeLevel = SelectLanes(above, level, Both(1));
    const Stereo estimate =
        ExpEstimates(Both(slope) * (LogEstimates(safeLevel) + Both(driveOverK)));
    const Stereo low = SelectLanes(above, estimate * Both(1 - 1e-4), Both(1));
    const Stereo high = SelectLanes(above, estimate * Both(1 + 1e-4), Both(1));
    const __m128d inRange = _mm_cmple_pd((__m128d)level, _mm_set1_pd(usable ? 1e300 : -1.0));
    const int aboveLanes = _mm_movemask_pd(above);
    aboveThreshold += (aboveLanes & 1) + (aboveLanes >> 1);
    _mm_storeu_pd(lower + first, (__m128d)low);  // the arrays hold an even count
    _mm_storeu_pd(upper + first, (__m128d)high);
    const int exactLanes = aboveLanes & ~_mm_movemask_pd(inRange);
    if (__builtin_expect(exactLanes != 0, 0)) {
      for (int lane = 0; lane < 2; ++lane) {
        if (!(exactLanes & (1 << lane))) continue;
        const int n = first + lane;
        lower[n] = upper[n] = TargetGain(levels[n], thr, drive, R);
        ++exact;
      }
    }
  }
};

// TargetGain out of line, for the rare frame whose bounds cannot decide: the
// call's register saves stay on that path.
__attribute__((noinline, cold)) double ExactTargetGain(double level, double thr, double drive,
                                                       double R, long long& count) {
  ++count;
  return TargetGain(level, thr, drive, R);
}

// Smoothed(g0, TargetGain(level), cA, cR) given bounds on the target; runs
// `exact` (which returns TargetGain(level)) only when the bounds cannot
// decide.
template <class Exact>
inline __attribute__((always_inline)) double SmoothedWithin(double g0, double lower,
                                                            double upper, double cA, double cR,
                                                            Exact&& exact) {
  const double falling = g0 * cA;
  const double rising = g0 / cR;
  const bool attackLimited = upper < falling && upper < g0;
  const bool releaseLimited = lower > g0 && lower > rising;
  // Where either limit holds, either bound gives the same result as the
  // exact target.
  double target = upper;
  if (__builtin_expect(!(attackLimited || releaseLimited || lower == upper), 0)) target = exact();
  return Smoothed(g0, target, cA, cR);
}


// A curve's entries as doubles (the float entries convert exactly), each
// table followed by a 0 so that entry i + 1 exists for every index read.
// Saturation: PositiveCurve, then NegativeCurve. Detector: DetectorCurve.
struct CurveTables {
  static constexpr int kRows = 200;
  static constexpr int kStride = kRows + 1;
  static constexpr int kDetectorRows = 100;
  double saturation[2 * kStride];
  double detector[kDetectorRows + 1];

  CurveTables() {
    for (int i = 0; i < kRows; ++i) {
      saturation[i] = PositiveCurve.entries[i];
      saturation[kStride + i] = NegativeCurve.entries[i];
    }
    saturation[kRows] = 0;
    saturation[kStride + kRows] = 0;
    for (int i = 0; i < kDetectorRows; ++i) detector[i] = DetectorCurve.entries[i];
    detector[kDetectorRows] = 0;
  }
};
const CurveTables kCurves;

// CurveValueAt for two lanes at once: lane k reads the table starting at
// rows[k], at fractional index a[k], with the same rules: i = a truncated
// (the instruction gives INT32_MIN for NaN and for values that do not fit);
// i < 0 reads entry 0, i >= last reads entry last, otherwise
// e[i] (1 - f) + e[i + 1] f with f = a - i. Out-of-range lanes read with i
// clamped and f = 0, where e (1 - 0) + e' 0 = e exactly (e' is finite, and
// where e = +0 the sum is +0 whatever the sign of e' 0).
inline Stereo CurveValues(const double* rows0, const double* rows1, int last, Stereo a) {
  const __m128i index = _mm_cvttpd_epi32((__m128d)a);
  const __m128i below = _mm_cmplt_epi32(index, _mm_setzero_si128());
  const __m128i above = _mm_cmpgt_epi32(index, _mm_set1_epi32(last - 1));
  const __m128i outside = _mm_or_si128(below, above);
  const __m128i clamped = _mm_or_si128(_mm_andnot_si128(outside, index),
                                       _mm_and_si128(above, _mm_set1_epi32(last)));
  const __m128d outsideLanes =
      _mm_castsi128_pd(_mm_shuffle_epi32(outside, _MM_SHUFFLE(1, 1, 0, 0)));
  const Stereo f =
      (Stereo)_mm_andnot_pd(outsideLanes, (__m128d)(a - (Stereo)_mm_cvtepi32_pd(index)));
  const __m128d pair0 = _mm_loadu_pd(rows0 + _mm_cvtsi128_si32(clamped));
  const __m128d pair1 = _mm_loadu_pd(rows1 + _mm_cvtsi128_si32(_mm_shuffle_epi32(clamped, 1)));
  const Stereo lower = (Stereo)_mm_unpacklo_pd(pair0, pair1);
  const Stereo upper = (Stereo)_mm_unpackhi_pd(pair0, pair1);
  return lower * (Both(1) - f) + upper * f;
}

// The saturation curve for both channels: NegativeCurve where v is negative
// (sign bit set), PositiveCurve otherwise, read at |v D3| (both tables share
// scale and length); the result carries the sign of v D3.
inline Stereo SaturationCurve(Stereo v, double D3) {
  static_assert(CurveTables::kRows == 200, "table length");
  const Stereo x = v * Both(D3);
  const __m128d signMask = _mm_set1_pd(-0.0);
  const Stereo a =
      (Stereo)_mm_andnot_pd(signMask, (__m128d)x) * Both(PositiveCurve.indexScale);
  const int negative = _mm_movemask_pd((__m128d)v);
  const double* const rows = kCurves.saturation;
  const Stereo value = CurveValues(rows + (negative & 1) * CurveTables::kStride,
                                   rows + (negative >> 1) * CurveTables::kStride,
                                   CurveTables::kRows - 1, a);
  const __m128d values = _mm_andnot_pd(signMask, (__m128d)value);
  return (Stereo)_mm_or_pd(values, _mm_and_pd(signMask, (__m128d)x));
}

// |ShapeDetector| of both channels.
inline Stereo DetectorMagnitudes(Stereo sidechain) {
  static_assert(CurveTables::kDetectorRows == 100, "table length");
  const __m128d signMask = _mm_set1_pd(-0.0);
  const Stereo magnitude = (Stereo)_mm_andnot_pd(signMask, (__m128d)sidechain);
  const Stereo t = magnitude / (magnitude + Both(3));
  const Stereo a = (t - Both(DetectorCurve.lowerBound)) * Both(DetectorCurve.indexScale);
  const Stereo value = CurveValues(kCurves.detector, kCurves.detector,
                                   CurveTables::kDetectorRows - 1, a);
  return (Stereo)_mm_andnot_pd(signMask, (__m128d)value);
}

// Frames per chunk: 64 at 4x, 16 at 16x; a chunk's sub-frames and the next
// frame's fit on a tape.
constexpr int kMaxOversampling = 16;
constexpr int kChunkSubFrames = 256;
constexpr int kMaxChunk = 64;
inline int ChunkFrames(int N) { return std::min(kMaxChunk, kChunkSubFrames / N); }
constexpr int kTapeCapacity = 11 + kChunkSubFrames + kMaxOversampling;
typedef StereoBesselTape<kTapeCapacity> BesselTape;

const double D1 = std::pow(10.0, 0.55);
const double D2 = std::pow(10.0, 2.2);
const double D3 = std::pow(10.0, -0.5);
const double D4 = std::pow(10.0, -5.0);

// The saturation curve's input from the up-sampling output, and its output
// as the down-sampling filter's input.
inline Stereo Saturate(Stereo upOutput, Stereo gainN, Stereo drive) {
  return drive * SaturationCurve(gainN * upOutput, D3) * Both(D2);
}

// The saturation stage runs as a pipeline one frame deep: while the
// down-sampling filter takes the N sub-frames of frame f, the up-sampling
// filter and the saturation curve already produce those of frame f + 1.
// The two dependent chains then run side by side, and the saturation's
// latency between them is off both. Per sub-frame j the arithmetic is the
// one stated: up-sampling step (the input in sub-frame 0, zeros after it),
// saturation curve, down-sampling step.
struct SaturationPipeline {
  const StereoBesselCoefficients* bessel;
  int N;
  Stereo gainN, drive;
  Stereo* pending;  // down-sampling inputs of the frame that comes next
  Stereo* filling;  // those of the frame after it, being produced

  // The up-sampling half for one frame: fills `filling`.
  template <int kN>
  void Produce(BesselRun& up, Stereo in) {
    const int n = kN > 0 ? kN : N;
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      const Stereo u = j == 0 ? BesselStep<false>(*bessel, up, in)
                              : BesselStep<true>(*bessel, up, Both(0));
      filling[j] = Saturate(u, gainN, drive);
    }
    std::swap(pending, filling);
  }

  // The down-sampling half of the pending frame, interleaved with the
  // up-sampling half of the next one when there is one (kNext). Returns the
  // down-sampling output of sub-frame 0, flushed.
  template <bool kNext, int kN, bool kSpeculative>
  Stereo Frame(BesselRun& up, BesselRun& down, Stereo next) {
    const int n = kN > 0 ? kN : N;
    Stereo first = Both(0);
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      if (kNext) {
        const Stereo u = j == 0 ? BesselStep<false, kSpeculative>(*bessel, up, next)
                                : BesselStep<true, kSpeculative>(*bessel, up, Both(0));
        filling[j] = Saturate(u, gainN, drive);
      }
      const Stereo d = BesselStep<false, kSpeculative>(*bessel, down, pending[j]);
      if (j == 0) first = d;
    }
    std::swap(pending, filling);
    return first;
  }
};

// The saturation stage for frames start .. start + count - 1 of a block.
// After each frame's saturation, perFrame(n, saturation) runs the rest of
// frame start + n: its instructions follow the filter steps in the stream,
// so the processor works on them while the filters' dependent chains wait.
// The block's first frame is produced here too; the frame after the chunk is
// produced when the block has one.
//
// Frames run with speculative Bessel steps (no flush on the chains) until a
// flush would have changed a bit: that frame runs again from the state
// before it with exact steps, and so does the rest of the chunk (material
// decaying into the flush range would otherwise rerun frame after frame).
// Every frame's result is therefore the exact one. The two loops are kept
// apart so that each keeps its filter state in registers.
template <int kN, class PerFrame>
inline __attribute__((always_inline)) void RunSaturation(
    SaturationPipeline& pipeline, BesselRun& up, BesselRun& down, const double* const* inputs,
    int start, int count, int frames, PerFrame&& perFrame) {
  if (start == 0) pipeline.Produce<kN>(up, Stereo{inputs[0][0], inputs[1][0]});
  up.StartSpeculating();
  down.StartSpeculating();
  int n = 0;
  for (; n < count; ++n) {
    const int next = start + n + 1;
    Stereo* const upTop = up.top;
    Stereo* const downTop = down.top;
    up.smallest = down.smallest = _mm_set1_pd(__builtin_inf());
    const Stereo saturation =
        next < frames
            ? pipeline.Frame<true, kN, true>(up, down, Stereo{inputs[0][next], inputs[1][next]})
            : pipeline.Frame<false, kN, true>(up, down, Both(0));
    if (__builtin_expect(FlushMayHaveActed(up, down), 0)) {
      // The tapes up to the saved tops hold verified (flushed) values.
      up.top = upTop;
      down.top = downTop;
      up.StartSpeculating();
      down.StartSpeculating();
      std::swap(pipeline.pending, pipeline.filling);
      break;
    }
    perFrame(n, saturation);
  }
  for (; n < count; ++n) {
    const int next = start + n + 1;
    const Stereo saturation =
        next < frames
            ? pipeline.Frame<true, kN, false>(up, down, Stereo{inputs[0][next], inputs[1][next]})
            : pipeline.Frame<false, kN, false>(up, down, Both(0));
    perFrame(n, saturation);
  }
}

}  // namespace

// The processing loop compiled twice: for any x86-64 processor, and, in
// ELF builds, with AVX2 enabled (VEX encoding, three-operand instructions,
// fewer register copies on the filter chains). The copies do the same IEEE
// operations in the same order: the build has -ffp-contract=off and "avx2"
// does not enable FMA, so no multiply-add is fused and every lane rounds
// exactly as before. Everything the loop inlines is compiled into each copy;
// what it calls (exp, log, the editor) is the one shared code. MinGW builds
// keep only the baseline copy: their compiler cannot align 32-byte stack
// slots, which AVX code may use.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__)
#define KESTRUNE_AVX2_KERNEL 1
#else
#define KESTRUNE_AVX2_KERNEL 0
#endif

struct SignalPathKernels {
  static void Baseline(SignalPath& path, const BlockSettings& settings,
                       const double* const* inputs, double* const* outputs, int frames) {
    switch (path.params.oversampling) {
      case 4: path.RunFrames<4>(settings, inputs, outputs, frames); break;
      case 16: path.RunFrames<16>(settings, inputs, outputs, frames); break;
      default: path.RunFrames<0>(settings, inputs, outputs, frames); break;
    }
  }
#if KESTRUNE_AVX2_KERNEL
  __attribute__((target("avx2"))) static void Avx2(SignalPath& path,
                                                   const BlockSettings& settings,
                                                   const double* const* inputs,
                                                   double* const* outputs, int frames) {
    switch (path.params.oversampling) {
      case 4: path.RunFrames<4>(settings, inputs, outputs, frames); break;
      case 16: path.RunFrames<16>(settings, inputs, outputs, frames); break;
      default: path.RunFrames<0>(settings, inputs, outputs, frames); break;
    }
  }
#endif
};

namespace {

PathCode gForcedCode = PathCode::Automatic;

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

void ForceSignalPathCode(PathCode code) { gForcedCode = code; }

PathCode SignalPathCodeInUse() {
  const PathCode detected = DetectedCode();
  if (gForcedCode == PathCode::Baseline) return PathCode::Baseline;
  return detected;  // Automatic, or Avx2 where it can run (else Baseline)
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

void SignalPath::Process(const BlockSettings& settings, const double* const* inputs,
                         double* const* outputs, int frames) {
  DenormalGuard denormals;
  UpdateCoefficients(settings);
  if (frames <= 0) return;
  // Only 4 and 16 come from the parameter; any other factor the pipeline
  // has room for runs it with the factor read at run time.
  const int N = params.oversampling;
  if (N != 4 && N != 16 && !(N >= 1 && N <= kMaxOversampling)) {
    RunStraightforward(*this, settings, inputs, outputs, frames);
    return;
  }
#if KESTRUNE_AVX2_KERNEL
  if (SignalPathCodeInUse() == PathCode::Avx2) {
    SignalPathKernels::Avx2(*this, settings, inputs, outputs, frames);
    return;
  }
#endif
  SignalPathKernels::Baseline(*this, settings, inputs, outputs, frames);
}

// kOversampling 0: the factor is read from the parameters at run time.
// Inlined into each per-instruction-set copy (SignalPathKernels).
template <int kOversampling>
inline void SignalPath::RunFrames(
    const BlockSettings& settings, const double* const* inputs, double* const* outputs,
    int frames) {
  const CompressorParams& P = params;
  CompressorState& S = state;
  const Cache& c = cache_;
  const int N = kOversampling > 0 ? kOversampling : P.oversampling;

  StereoBiquad highPass, peaking, highShelf;
  highPass.Load(S.highPassLeft, S.highPassRight);
  peaking.Load(S.peakingLeft, S.peakingRight);
  highShelf.Load(S.highShelfLeft, S.highShelfRight);
  StereoBesselCoefficients bessel;
  bessel.Load(besselLeft, besselRight);
  BesselTape upTape, downTape;
  BesselRun up, down;
  up.Start(upTape.Load(upLeft, upRight));
  down.Start(downTape.Load(downLeft, downRight));

  const double wetFactor = P.mixPercent / 100;
  const double dryFactor = 1 - wetFactor;
  S.wetFactor = wetFactor;
  S.dryFactor = dryFactor;
  const double driveFactor = P.inputDrive / 10 + 1;
  const bool slam = settings.slam == 1;
  const bool noReduction = P.inputDrive == 0;
  const bool bypass = settings.bypass != 0;
  EditorFeed* const meterFeed = settings.meter;
  const double* sourceLeft = settings.sidechain == 1 ? inputs[0] : inputs[2];
  const double* sourceRight = settings.sidechain == 1 ? inputs[1] : inputs[3];

  Stereo downInputs[2][kMaxOversampling];
  SaturationPipeline pipeline;
  pipeline.bessel = &bessel;
  pipeline.N = N;
  pipeline.gainN = Both(N);
  pipeline.drive = Both(driveFactor);
  pipeline.pending = downInputs[0];
  pipeline.filling = downInputs[1];
  double gainState = S.gainState;
  double meterState = S.meterState;
  Stereo sidechain = Stereo{S.sidechainLeft, S.sidechainRight};

  // The block runs in chunks. For each chunk, bounds on the gain computer's
  // targets come first, in a short loop of their own; everything else of a
  // frame runs beside the saturation stage, whose long dependent chains
  // leave the processor idle most of the time: the smoothing (which needs
  // the exact target, a maths-library call, only where the bounds cannot
  // decide), meter, outputs and the sidechain equaliser and level of the
  // frame one chunk ahead.
  const int kChunk = ChunkFrames(N);
  const TargetBounds targetBounds(c.thr, P.inputDrive, c.R);
  long long exactTargets = 0, aboveThreshold = 0;
  double levelBuffers[2][kMaxChunk], lowerTargets[kMaxChunk], upperTargets[kMaxChunk];
  double* levels = levelBuffers[0];
  double* levelsAhead = levelBuffers[1];
  Stereo saturation = Stereo{S.saturationLeft, S.saturationRight};

  // Sidechain equaliser (high-pass, peaking, high shelf, in single-precision
  // steps) and the stereo-linked detector and level of frame f.
  auto sidechainLevel = [&](int f) __attribute__((always_inline)) {
    Stereo x = highPass.Tick(ToSingle(Stereo{sourceLeft[f], sourceRight[f]}));
    x = peaking.Tick(ToSingle(x));
    x = highShelf.Tick(ToSingle(x));
    sidechain = ToSingle(x);
    double d;
    if (slam) {
      const Stereo shaped = DetectorMagnitudes(sidechain);
      d = std::max(shaped[1], shaped[0]) * D1;
    } else {
      d = std::max(std::fabs(sidechain[1]), std::fabs(sidechain[0]));
    }
    return LevelOf(d, c.p);
  };

  for (int n = 0; n < std::min(kChunk, frames); ++n) levels[n] = sidechainLevel(n);

  for (int start = 0; start < frames; start += kChunk) {
    const int count = std::min(kChunk, frames - start);
    const int aheadCount = std::max(0, std::min(kChunk, frames - start - kChunk));

    // Bounds on the target gains (with INPUT at 0 the gain stays 1 and the
    // target is never used).
    if (!noReduction) {
      for (int n = 0; n < count; n += 2)
        targetBounds.OfPair(levels, n, n + 1 < count, lowerTargets, upperTargets, aboveThreshold,
                            exactTargets);
    }

    // Oversampled saturation; only sub-frame 0 of each frame is kept.
    up.top = upTape.Reserve(up.top, (count + 1) * N);
    down.top = downTape.Reserve(down.top, (count + 1) * N);
    RunSaturation<kOversampling>(
        pipeline, up, down, inputs, start, count, frames,
        [&](int n, Stereo frameSaturation) __attribute__((always_inline)) {
          const int f = start + n;
          saturation = frameSaturation;

          // Gain computer, attack and release.
          const double gain =
              noReduction ? 1
                          : SmoothedWithin(gainState, lowerTargets[n], upperTargets[n], c.cA,
                                           c.cR, [&]() {
                                             return ExactTargetGain(levels[n], c.thr,
                                                                    P.inputDrive, c.R,
                                                                    exactTargets);
                                           });
          gainState = gain;

          // Gain-reduction meter, while an editor exists.
          if (meterFeed) {
            double v = std::fabs(1 - gain);
            v = Select(Greater(v, meterState), v * 1.0125, v * 0.9875);
            meterState = (meterState - v) * c.meterCoefficient + v;
          }

          // The gain through the transfer curve, dry/wet, output gain, bypass.
          const Stereo in = Stereo{inputs[0][f], inputs[1][f]};
          const double curveGain = ShapePositive(gain);
          const Stereo wet = Both(curveGain) * (Both(D4) * frameSaturation + in);
          if (!bypass) {
            outputs[0][f] = (dryFactor * in[0] + wetFactor * wet[0]) * P.outputGain;
            outputs[1][f] = (wetFactor * wet[1] + dryFactor * in[1]) * P.outputGain;
          } else {
            outputs[0][f] = in[0];
            outputs[1][f] = in[1];
          }
          if (f == frames - 1) {
            S.dryLeft = in[0];
            S.dryRight = in[1];
          }

          // The next chunk's sidechain and level; those frames are read
          // before any output of theirs is written (inputs may alias outputs).
          if (n < aheadCount) levelsAhead[n] = sidechainLevel(f + kChunk);
        });
    std::swap(levels, levelsAhead);

  }

  S.gainState = gainState;
  targetCounts_.aboveThreshold += aboveThreshold;
  targetCounts_.exact += exactTargets;
  S.meterState = meterState;
  if (meterFeed) meterFeed->Post(meterState);
  S.saturationLeft = saturation[0];
  S.saturationRight = saturation[1];
  S.sidechainLeft = sidechain[0];
  S.sidechainRight = sidechain[1];
  highPass.Store(S.highPassLeft, S.highPassRight);
  peaking.Store(S.peakingLeft, S.peakingRight);
  highShelf.Store(S.highShelfLeft, S.highShelfRight);
  BesselTape::Store(up.top, upLeft, upRight);
  BesselTape::Store(down.top, downLeft, downRight);
}

}  // namespace today
}  // namespace kestrune
