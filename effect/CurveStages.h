// The curve lookups of the signal path (KestruneCurves.h), two or four lanes
// at a time: the saturation curves, the transfer curve the gain goes
// through, and the detector's curve. Same rules and the same arithmetic as
// CurveValueAt, lane by lane.
#pragma once

#include <cstring>

#include "KestruneCurves.h"
#include "LaneVectors.h"
#include "PathState.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

// The path's fixed gains (see FixedGains in PathState.h).
const FixedGains kGains;

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
// (sign bit set), PositiveCurve otherwise, read at |v trim| with trim the
// saturation input trim (both tables share scale and length); the result
// carries the sign of v trim.
inline Stereo SaturationCurve(Stereo v) {
  static_assert(CurveTables::kRows == 200, "table length");
  const Stereo x = v * Both(kGains.saturationInputTrim);
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

// The saturation curve's input from the up-sampling output, and its output
// as the down-sampling filter's input.
inline Stereo Saturate(Stereo upOutput, Stereo gainN, Stereo drive) {
  return drive * SaturationCurve(gainN * upOutput) * Both(kGains.saturationMakeup);
}


// CurveValues for four lanes: lane k reads the table at rows + rowOffsets[k]
// at fractional index a[k], with CurveValueAt's rules applied in double
// precision before the conversion, so that every converted value is in
// range: i = trunc(a) below 0 (a <= -1, NaN, and |a| >= 2^31, where the
// instruction gives INT32_MIN) reads entry 0, i >= last reads entry last,
// both with f = 0 (a clamped to that entry's index makes f = +0; the
// caller takes the magnitude, so e (1 - 0) + e' 0 = e holds up to a zero's
// sign). kSigned: a may be negative (otherwise a >= 0 or NaN).
template <bool kSigned>
KESTRUNE_WIDE Quad CurveQuad(const double* rows, QuadIndex rowOffsets, Quad a, double last) {
  const QuadMask valid = a < All(2147483648.0);
  QuadMask inside = valid & (a < All(last));
  QuadMask high = valid;  // valid lanes outside are above when a >= 0
  if (kSigned) {
    inside &= a > All(-1.0);
    high &= a >= All(last);
  }
  const Quad clamped = inside ? a : (Quad)(high & (QuadMask)All(last));  // last, or +0
  const QuadIndex index = __builtin_convertvector(clamped, QuadIndex);
  const Quad f = clamped - __builtin_convertvector(index, Quad);
  const QuadIndex row = index + rowOffsets;
  Stereo pair[4];
  for (int k = 0; k < 4; ++k) std::memcpy(&pair[k], rows + row[k], sizeof(Stereo));
  const Quad even = Join(pair[0], pair[2]), odd = Join(pair[1], pair[3]);
  const Quad lower = __builtin_shufflevector(even, odd, 0, 4, 2, 6);
  const Quad upper = __builtin_shufflevector(even, odd, 1, 5, 3, 7);
  return lower * (All(1) - f) + upper * f;
}

// Saturate for two sub-frames at once (lanes 0-1 the first, 2-3 the
// second): SaturationCurve's steps on four lanes, the table of a lane's sign
// chosen by adding its offset to the clamped index.
KESTRUNE_WIDE Quad SaturateQuad(Quad upOutputs, Quad gainN, Quad drive) {
  static_assert(CurveTables::kRows == 200, "table length");
  const Quad x = gainN * upOutputs * All(kGains.saturationInputTrim);
  const QuadMask sign = (QuadMask)x & (long long)0x8000000000000000ULL;
  const Quad a = Magnitude(x) * All(PositiveCurve.indexScale);
  const QuadMask negative = (QuadMask)upOutputs < 0;
  const Quad value =
      CurveQuad<false>(kCurves.saturation,
                       __builtin_convertvector(negative & CurveTables::kStride, QuadIndex), a,
                       CurveTables::kRows - 1);
  const Quad curve = (Quad)((QuadMask)Magnitude(value) | sign);
  return drive * curve * All(kGains.saturationMakeup);
}

// ShapePositive of four values.
KESTRUNE_WIDE Quad ShapePositiveQuad(Quad x) {
  const QuadMask sign = (QuadMask)x & (long long)0x8000000000000000ULL;
  const Quad a = Magnitude(x) * All(PositiveCurve.indexScale);
  const Quad value =
      CurveQuad<false>(kCurves.saturation, QuadIndex{0, 0, 0, 0}, a, CurveTables::kRows - 1);
  return (Quad)((QuadMask)Magnitude(value) | sign);
}

// DetectorMagnitudes of four values.
KESTRUNE_WIDE Quad DetectorQuad(Quad sidechain) {
  const Quad magnitude = Magnitude(sidechain);
  const Quad t = magnitude / (magnitude + All(3));
  const Quad a = (t - All(DetectorCurve.lowerBound)) * All(DetectorCurve.indexScale);
  return Magnitude(CurveQuad<true>(kCurves.detector, QuadIndex{0, 0, 0, 0}, a,
                                   CurveTables::kDetectorRows - 1));
}

}  // namespace
}  // namespace kestrune
