#include "KestruneFilters.h"

#include <cmath>

namespace kestrune {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kSqrt2 = 1.4142135623730951;

// The analogue prototype: five conjugate pole pairs (sigma +- j omega) of a
// 10th-order Bessel low-pass normalised to -3 dB at 1 rad/s.
constexpr double kBesselSigma[5] = {-1.927619691324482, -1.8421962445659017,
                                    -1.6618102413500957, -1.3606922783857325,
                                    -0.8657569017089488};
constexpr double kBesselOmega[5] = {0.2416234709451774, 0.7272575977534836, 1.221100218591516,
                                    1.73350574265843, 2.2926048309837426};

struct Complex {
  double re, im;
};
}  // namespace

void DesignBiquad(BiquadSection& s) {
  double corner = s.corner;
  if (!(corner < kMaxCornerFraction)) corner = kMaxCornerFraction;  // also catches NaN
  const double K = std::tan(kPi * corner);
  const double V = std::pow(10.0, std::fabs(s.gainDb) / 20.0);
  const double q = s.q;
  const bool boost = s.gainDb >= 0;  // NaN takes the cut formulas
  double n;
  switch (s.kind) {
    case BiquadHighPass:
      n = 1 / (1 + K / q + K * K);
      s.b0 = n;
      s.b1 = -2 * n;
      s.b2 = n;
      s.a1 = 2 * (K * K - 1) * n;
      s.a2 = (1 - K / q + K * K) * n;
      break;
    case BiquadPeaking:
      if (boost) {
        n = 1 / (1 + K / q + K * K);
        s.b0 = (1 + V * K / q + K * K) * n;
        s.b1 = 2 * (K * K - 1) * n;
        s.b2 = (1 - V * K / q + K * K) * n;
        s.a1 = s.b1;
        s.a2 = (1 - K / q + K * K) * n;
      } else {
        n = 1 / (1 + V * K / q + K * K);
        s.b0 = (1 + K / q + K * K) * n;
        s.b1 = 2 * (K * K - 1) * n;
        s.b2 = (1 - K / q + K * K) * n;
        s.a1 = s.b1;
        s.a2 = (1 - V * K / q + K * K) * n;
      }
      break;
    case BiquadHighShelf:
      if (boost) {
        n = 1 / (1 + kSqrt2 * K + K * K);
        s.b0 = (V + std::sqrt(2 * V) * K + K * K) * n;
        s.b1 = 2 * (K * K - V) * n;
        s.b2 = (V - std::sqrt(2 * V) * K + K * K) * n;
        s.a1 = 2 * (K * K - 1) * n;
        s.a2 = (1 - kSqrt2 * K + K * K) * n;
      } else {
        n = 1 / (V + std::sqrt(2 * V) * K + K * K);
        s.b0 = (1 + kSqrt2 * K + K * K) * n;
        s.b1 = 2 * (K * K - 1) * n;
        s.b2 = (1 - kSqrt2 * K + K * K) * n;
        s.a1 = 2 * (K * K - V) * n;
        s.a2 = (V - std::sqrt(2 * V) * K + K * K) * n;
      }
      break;
    default:
      break;
  }
}

void DesignBessel10(BesselCoefficients& out, double fc) {
  const double w = kTwoPi * fc;

  // z-plane poles in the order p1, conj(p1), p2, conj(p2), ...
  Complex poles[10];
  for (int i = 0; i < 5; ++i) {
    double radius = std::exp(kBesselSigma[i] * w);
    double angle = kBesselOmega[i] * w;
    poles[2 * i] = {radius * std::cos(angle), radius * std::sin(angle)};
    poles[2 * i + 1] = {radius * std::cos(-angle), radius * std::sin(-angle)};
  }

  // A(z) = prod (1 - p z^-1), one factor at a time.
  Complex a[11] = {{1, 0}};
  for (int i = 0; i < 10; ++i) {
    const Complex p = poles[i];
    for (int k = i + 1; k > 0; --k) {
      const Complex prev = a[k - 1];
      a[k].re -= p.re * prev.re - p.im * prev.im;
      a[k].im -= p.re * prev.im + p.im * prev.re;
    }
  }

  // Unity gain at DC: g = |A(1)|, taken as the reciprocal of |1 / A(1)|.
  Complex sum = {0, 0};
  for (int k = 0; k <= 10; ++k) {
    sum.re += a[k].re;
    sum.im += a[k].im;
  }
  const double denom = sum.re * sum.re + sum.im * sum.im;
  const Complex inverse = {sum.re / denom, -sum.im / denom};
  out.g = 1 / std::hypot(inverse.re, inverse.im);

  out.c[0] = 0;
  for (int k = 1; k <= 10; ++k) out.c[k] = -a[k].re / a[0].re;
}

}  // namespace kestrune
