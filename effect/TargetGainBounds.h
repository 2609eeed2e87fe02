// The gain computer's stages as the signal path runs them: the level and
// the smoothing without branches, and cheap bounds on the target gain that
// let the smoothing skip the exact target (a log and an exp) wherever its
// value cannot change the result.
#pragma once

#include <cmath>
#include <cstring>

#include "LaneVectors.h"
#include "PathState.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

// SmoothGain without branches: std::max(target, x) is x only when
// x > target, std::min(y, target) is target only when y > target.
inline double Smoothed(double g0, double target, double cA, double cR) {
  const double falling = g0 * cA;
  const double rising = g0 / cR;
  const double attack = Select(Greater(falling, target), falling, target);
  const double release = Select(Greater(rising, target), target, rising);
  return Select(Greater(g0, target), attack, release);
}

// ln x in each lane for a normal positive x, within 3e-8: the exponent from
// the bits, the mantissa m folded into [sqrt(1/2), sqrt(2)] and
// 2 atanh(s), s = (m-1)/(m+1), |s| < 0.1716, to s^7 (the rest is below
// 2 s^9 / 9 / (1 - s^2) < 3e-8). Only ever used to decide that an exact
// value is not needed.
//
// Written for any vector of doubles V (two or four lanes) with B the
// unsigned integer vector of its bits.
// Inlined only, like the four-lane functions (see Quad in LaneVectors.h).
template <class V, class B>
inline __attribute__((always_inline)) V LogEstimates(V x) {
  const B bits = (B)x;
  const B biased = (bits >> 52) | 0x4330000000000000ULL;  // 2^52 + biased exponent
  V m = (V)((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
  const auto fold = m > 1.4142135623730951;
  m = fold ? m * 0.5 : m;
  const V one = V{} + 1.0;
  const V exponent = ((V)biased - (0x1p52 + 1023)) + (V)(fold & (decltype(fold))one);
  const V s = (m - 1.0) / (m + 1.0);
  const V s2 = s * s;
  const V series = s * ((2.0 + s2 * (2.0 / 3)) + (s2 * s2) * ((2.0 / 5) + s2 * (2.0 / 7)));
  return exponent * 0.6931471805599453 + series;
}

// e^x in each lane for -708 <= x <= 0, relative error below 3e-6 whatever
// the rounding mode: 2^k e^r with k = x / ln 2 rounded by the 1.5 * 2^52
// shift (whose low bits then hold k), |r| <= ln 2, and e^r to r^7 (the rest
// is below 0.694^8 / 8! * 2 < 3e-6; about 1e-9 in the default rounding
// mode, where |r| <= 0.347). V and B as for LogEstimates.
template <class V, class B>
inline __attribute__((always_inline)) V ExpEstimates(V x) {
  const V shifted = x * 1.4426950408889634 + 0x1.8p52;
  const V k = shifted - 0x1.8p52;
  const V r = x - k * 0.6931471805599453;
  const V r2 = r * r;
  const V r4 = r2 * r2;
  const V low = (1.0 + r) + r2 * ((1.0 / 2) + r * (1.0 / 6));
  const V high = ((1.0 / 24) + r * (1.0 / 120)) + r2 * ((1.0 / 720) + r * (1.0 / 5040));
  const B scale = ((B)shifted << 52) + (1023ULL << 52);  // 2^k
  return (low + r4 * high) * (V)scale;
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

  // For frames first .. first + L - 1 of `levels`, L the lanes of V (the
  // bits vector B as for LogEstimates), of which only the first `present`
  // exist: lower[n] <= TargetGain(levels[n]) <= upper[n], both equal to the
  // exact target where that was computed (1 at or below the threshold).
  // Tells `tally` of the frames above the threshold and of those whose
  // exact target was computed (see SignalPath::ProcessTallying). The arrays
  // have room for all L lanes.
  template <class V, class B, class Tally>
  inline __attribute__((always_inline)) void Of(const double* levels, int first, int present,
                                                double* lower, double* upper,
                                                Tally& tally) const {
    constexpr int kLanes = sizeof(V) / sizeof(double);
    V level;
    for (int k = 0; k < kLanes; ++k) level[k] = k < present ? levels[first + k] : 0.0;
    const auto above = level > thr;
    const V one = V{} + 1.0;
    const V safeLevel = above ? level : one;
    const V estimate = ExpEstimates<V, B>(slope * (LogEstimates<V, B>(safeLevel) + driveOverK));
    const V low = above ? estimate * (1 - 1e-4) : one;
    const V high = above ? estimate * (1 + 1e-4) : one;
    const auto outOfRange = ~(level <= (usable ? 1e300 : -1.0)) & above;
    std::memcpy(lower + first, &low, sizeof(V));
    std::memcpy(upper + first, &high, sizeof(V));
    int aboveLanes = 0, exactLanes = 0;
    for (int k = 0; k < kLanes; ++k) {
      aboveLanes += above[k] != 0;
      exactLanes |= (outOfRange[k] != 0) << k;
    }
    tally.Above(aboveLanes);
    if (__builtin_expect(exactLanes != 0, 0)) {
      for (int k = 0; k < kLanes; ++k) {
        if (!(exactLanes & (1 << k))) continue;
        const int n = first + k;
        lower[n] = upper[n] = TargetGain(levels[n], thr, drive, R);
        tally.Exact();
      }
    }
  }
  template <class Tally>
  void OfPair(const double* levels, int first, bool second, double* lower, double* upper,
              Tally& tally) const {
    Of<Stereo, StereoBits>(levels, first, second ? 2 : 1, lower, upper, tally);
  }
};

// TargetGain out of line, for the rare frame whose bounds cannot decide: the
// call's register saves stay on that path.
template <class Tally>
__attribute__((noinline, cold)) double ExactTargetGain(double level, double thr, double drive,
                                                       double R, Tally& tally) {
  tally.Exact();
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

}  // namespace
}  // namespace kestrune
