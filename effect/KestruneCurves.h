// The compressor's transfer curves: tables read with linear interpolation.
// PositiveCurve shapes non-negative samples in the saturation stage and the
// applied gain; NegativeCurve shapes negative samples; DetectorCurve shapes
// the detector input in SLAM mode.
#pragma once

#include <cmath>
#include <cstdint>

namespace kestrune {

struct CurveTable {
  float lowerBound;
  float indexScale;
  int32_t count;
  const float* entries;
};

extern const CurveTable PositiveCurve;
extern const CurveTable NegativeCurve;
extern const CurveTable DetectorCurve;

// Truncation toward zero as the x86 conversion does it: arguments that do
// not fit a 32-bit integer (and NaN) give INT32_MIN instead of undefined
// behaviour, so the lookups fall back to entry 0.
inline int32_t TruncateToInt32(double a) {
  if (!(a > -2147483649.0 && a < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(a);
}

// Interpolated table value at fractional index a.
inline double CurveValueAt(const CurveTable& table, double a) {
  const int32_t i = TruncateToInt32(a);
  if (i < 0) return table.entries[0];
  if (i >= table.count - 1) return table.entries[table.count - 1];
  const double frac = a - i;
  return table.entries[i] * (1 - frac) + table.entries[i + 1] * frac;
}

// |curve(|x|)| carrying the sign of x.
inline double ShapePositive(double x) {
  double v = CurveValueAt(PositiveCurve, std::fabs(x) * PositiveCurve.indexScale);
  return std::copysign(std::fabs(v), x);
}

inline double ShapeNegative(double x) {
  double v = CurveValueAt(NegativeCurve, std::fabs(x) * NegativeCurve.indexScale);
  return std::copysign(std::fabs(v), x);
}

// Reads the curve at |x| / (|x| + 3); the result carries the sign opposite
// to x (only its magnitude is used).
inline double ShapeDetector(double x) {
  const double magnitude = std::fabs(x);
  const double t = magnitude / (magnitude + 3);
  double v = CurveValueAt(DetectorCurve, (t - DetectorCurve.lowerBound) * DetectorCurve.indexScale);
  return std::copysign(std::fabs(v), -x);
}

}  // namespace kestrune
