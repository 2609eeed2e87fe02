// The compressor's filters: the second-order sections of the sidechain
// equaliser and the 10th-order Bessel low-pass around the oversampled
// saturation stage. Everything runs in double precision; the designs and the
// per-sample steps fix the order of every operation, because the effect's
// output must be reproducible bit for bit.
#pragma once

#include <cstdint>

namespace kestrune {

enum BiquadKind : int32_t {
  BiquadNone = 0,       // pass-through coefficients left in place
  BiquadHighPass = 1,
  BiquadPeaking = 4,
  BiquadHighShelf = 6,
};

// One section in transposed direct form II. The design never touches z1 and
// z2, so a section's state survives every redesign.
struct BiquadSection {
  int32_t kind = BiquadNone;
  double b0 = 1, b1 = 0, b2 = 0;
  double a1 = 0, a2 = 0;
  double corner = 0.5;   // corner or centre frequency / sample rate
  double q = 0.707;
  double gainDb = 0;
  double z1 = 0, z2 = 0;
};

// Corners at or above half the sample rate (the 10 kHz shelf below 20 kHz)
// make tan(pi * corner) meaningless; they are held at this fraction, where
// every response is still stable.
constexpr double kMaxCornerFraction = 0.49;

// Writes b0..a2 from kind, corner, q and gainDb. Kinds other than HighPass,
// Peaking and HighShelf leave the coefficients unchanged.
void DesignBiquad(BiquadSection& section);

inline double TickBiquad(BiquadSection& s, double x) {
  double y = s.b0 * x + s.z1;
  s.z1 = s.b1 * x + s.z2 - s.a1 * y;
  s.z2 = s.b2 * x - s.a2 * y;
  return y;
}

// All-pole 10th-order Bessel low-pass: g is the input gain, c[k] multiplies
// the output k samples back (c[0] unused).
struct BesselCoefficients {
  double g = 0;
  double c[11] = {};
};

// y[0] is the newest output, y[k] the output k samples before it.
struct BesselHistory {
  double y[11] = {};
};

// fc: cutoff as a fraction of the rate the filter runs at.
void DesignBessel10(BesselCoefficients& coefficients, double fc);

// Outputs below 2^-54 in magnitude, infinities and NaN become +0, tested on
// the biased exponent so that it costs no floating-point compare.
inline double FlushTiny(double y) {
  union {
    double d;
    uint64_t u;
  } bits{y};
  uint32_t exponent = static_cast<uint32_t>(bits.u >> 52) & 0x7FF;
  return (exponent <= 968 || exponent == 2047) ? 0.0 : y;
}

inline void TickBessel10(BesselHistory& h, double x, const BesselCoefficients& k) {
  for (int i = 10; i > 0; --i) h.y[i] = h.y[i - 1];
  double y = k.c[1] * h.y[1] + k.g * x;
  for (int i = 2; i <= 10; ++i) y += k.c[i] * h.y[i];
  h.y[0] = FlushTiny(y);
}

}  // namespace kestrune
