// The sidechain's stages as the signal path runs them: the equaliser's
// biquads for both channels at once, and the stereo-linked detector and
// level, for one frame without branches or for four frames at a time (the
// AVX2 copy).
#pragma once

#include <cmath>

#include "CurveStages.h"
#include "KestruneFilters.h"
#include "LaneVectors.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

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

// DetectorLevel without branches.
inline double LevelOf(double d, double p) {
  const double e = d * (1 - p);
  return Select(Greater(d, std::sqrt(e)), d, std::sqrt(e * (1 + p)));
}

// The detector and level of four frames from their sidechain values (left
// and right, frame by lane): as levelOfSidechain in SignalPathFrames.h,
// std::max(r, l) being l where r < l and r otherwise.
KESTRUNE_WIDE Quad LevelsQuad(Quad left, Quad right, bool slam, double p) {
  Quad d;
  if (slam) {
    const Quad l = DetectorQuad(left), r = DetectorQuad(right);
    d = (r < l ? l : r) * All(kGains.slamDetectorBoost);
  } else {
    const Quad l = Magnitude(left), r = Magnitude(right);
    d = r < l ? l : r;
  }
  const Quad e = d * All(1 - p);
  const Quad root = Join((Stereo)_mm_sqrt_pd((__m128d)LowHalf(e)),
                         (Stereo)_mm_sqrt_pd((__m128d)HighHalf(e)));
  const Quad scaled = e * All(1 + p);
  const Quad other = Join((Stereo)_mm_sqrt_pd((__m128d)LowHalf(scaled)),
                          (Stereo)_mm_sqrt_pd((__m128d)HighHalf(scaled)));
  return d > root ? d : other;
}

}  // namespace
}  // namespace kestrune
