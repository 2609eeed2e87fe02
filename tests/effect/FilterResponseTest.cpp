// The filters and transfer curves as a listener would notice them: the
// sidechain equaliser's responses, the Bessel filters' unity DC gain and
// their flushing, and the shape of the saturation and gain curves.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "KestruneCurves.h"
#include "KestruneFilters.h"
#include "NumberChecks.h"

namespace {

using kestrune_test::IsSubnormal;

using namespace kestrune;

double MagnitudeDb(const BiquadSection& s, double frequencyFraction) {
  const std::complex<double> z1 = std::polar(1.0, -2 * M_PI * frequencyFraction);
  const std::complex<double> z2 = z1 * z1;
  const std::complex<double> h = (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
  return 20 * std::log10(std::abs(h));
}

BiquadSection Designed(int32_t kind, double corner, double q, double gainDb) {
  BiquadSection s;
  s.kind = kind;
  s.corner = corner;
  s.q = q;
  s.gainDb = gainDb;
  DesignBiquad(s);
  return s;
}


TEST(SidechainEqualiser, HighPassKeepsMusicAndRemovesDc) {
  BiquadSection hp = Designed(BiquadHighPass, 20.0 / 44100, 1, 1);
  EXPECT_NEAR(MagnitudeDb(hp, 1000.0 / 44100), 0.0, 0.01);
  // Running the filter: a DC step dies away completely.
  double y = 1;
  for (int i = 0; i < 44100 * 2; ++i) y = TickBiquad(hp, 1.0);
  EXPECT_NEAR(y, 0.0, 1e-9);
}

TEST(SidechainEqualiser, PeakingAtZeroGainIsTransparent) {
  for (double centre : {500.0, 2000.0, 10000.0}) {
    BiquadSection peak = Designed(BiquadPeaking, centre / 44100, 0.7, 0);
    EXPECT_NEAR(peak.b0, 1.0, 1e-15);
    EXPECT_EQ(peak.b1, peak.a1);
    EXPECT_EQ(peak.b2, peak.a2);
    for (double f : {50.0, centre, 15000.0}) EXPECT_NEAR(MagnitudeDb(peak, f / 44100), 0, 1e-9);
  }
}

TEST(SidechainEqualiser, PeakingBoostsAndCutsAtItsCentre) {
  EXPECT_NEAR(MagnitudeDb(Designed(BiquadPeaking, 2000.0 / 44100, 0.7, 6), 2000.0 / 44100), 6,
              0.01);
  EXPECT_NEAR(MagnitudeDb(Designed(BiquadPeaking, 2000.0 / 44100, 0.7, -6), 2000.0 / 44100), -6,
              0.01);
  // Undefined gain takes the cut formulas and yields no usable filter, but
  // must not crash.
  Designed(BiquadPeaking, 0.1, 0.7, std::nan(""));
}

TEST(SidechainEqualiser, HighShelfBoostsTrebleAndLeavesDc) {
  BiquadSection boost = Designed(BiquadHighShelf, 10000.0 / 44100, 1, 16);
  EXPECT_NEAR(MagnitudeDb(boost, 20000.0 / 44100), 16, 0.5);
  EXPECT_NEAR(MagnitudeDb(boost, 0), 0, 1e-9);
  BiquadSection cut = Designed(BiquadHighShelf, 10000.0 / 44100, 1, -16);
  EXPECT_NEAR(MagnitudeDb(cut, 20000.0 / 44100), -16, 0.5);
  EXPECT_NEAR(MagnitudeDb(cut, 0), 0, 1e-9);
}

TEST(SidechainEqualiser, CornersAboveNyquistStayStableAtLowRates) {
  for (double rate : {8000.0, 16000.0, 20000.0}) {
    for (double gain : {16.0, -16.0}) {
      BiquadSection shelf = Designed(BiquadHighShelf, 10000.0 / rate, 1, gain);
      BiquadSection peak = Designed(BiquadPeaking, 10000.0 / rate, 0.7, gain / 2.7);
      // Poles inside the unit circle: |a2| < 1 and |a1| < 1 + a2.
      for (const BiquadSection* s : {&shelf, &peak}) {
        EXPECT_LT(std::fabs(s->a2), 1.0) << rate;
        EXPECT_LT(std::fabs(s->a1), 1.0 + s->a2) << rate;
        EXPECT_TRUE(std::isfinite(s->b0) && std::isfinite(s->b1) && std::isfinite(s->b2));
      }
    }
  }
}

TEST(SidechainEqualiser, UnknownKindKeepsPassThrough) {
  BiquadSection s;
  DesignBiquad(s);
  EXPECT_EQ(s.b0, 1);
  EXPECT_EQ(TickBiquad(s, 0.25), 0.25);
}

TEST(OversamplingFilter, HasUnityGainAtDc) {
  for (double fc : {0.05, 0.2 / 4, 0.2 / 16}) {
    BesselCoefficients k;
    DesignBessel10(k, fc);
    double feedback = 0;
    for (int i = 1; i <= 10; ++i) feedback += k.c[i];
    EXPECT_NEAR(k.g / (1 - feedback), 1.0, 1e-9) << fc;
    // And the running filter settles on a DC input.
    BesselHistory h;
    for (int i = 0; i < 4000; ++i) TickBessel10(h, 0.5, k);
    EXPECT_NEAR(h.y[0], 0.5, 1e-6) << fc;  // rounding in the long feedback sum
  }
}

TEST(OversamplingFilter, AttenuatesAboveItsCutoff) {
  BesselCoefficients k;
  DesignBessel10(k, 0.05);
  BesselHistory h;
  double peak = 0;
  for (int i = 0; i < 4000; ++i) {
    TickBessel10(h, (i % 2) ? 1.0 : -1.0, k);  // half the running rate
    if (i > 2000) peak = std::max(peak, std::fabs(h.y[0]));
  }
  EXPECT_LT(peak, 1e-4);  // below -80 dB
}

TEST(OversamplingFilter, NeverEmitsSubnormalInfiniteOrUndefinedValues) {
  for (double fc : {0.2 / 4, 0.2 / 16}) {
    BesselCoefficients k;
    DesignBessel10(k, fc);
    BesselHistory h;
    const double nasty[] = {1e300, -1e300, std::numeric_limits<double>::infinity(),
                            std::nan(""), 4.9e-324, 3.0, -2.0};
    for (double x : nasty) {
      TickBessel10(h, x, k);
      for (double y : h.y) EXPECT_TRUE(std::isfinite(y) && !IsSubnormal(y)) << x;
    }
    // Loud material, then a long silence: tiny outputs are flushed, the
    // history never holds a subnormal, and the residue is far below hearing.
    for (int i = 0; i < 2000; ++i) TickBessel10(h, (i % 7) - 3.0, k);
    for (int i = 0; i < 200000; ++i) {
      TickBessel10(h, 0.0, k);
      ASSERT_FALSE(IsSubnormal(h.y[0]) || !std::isfinite(h.y[0]));
    }
    EXPECT_LT(std::fabs(h.y[0]), 1e-8) << fc;
  }
}

TEST(OversamplingFilter, SilenceFromTheStartStaysExactlyZero) {
  BesselCoefficients k;
  DesignBessel10(k, 0.2 / 16);
  BesselHistory h;
  for (int i = 0; i < 1000; ++i) {
    TickBessel10(h, 0.0, k);
    ASSERT_EQ(h.y[0], 0.0);
    ASSERT_FALSE(std::signbit(h.y[0]));
  }
}

TEST(OversamplingFilter, FlushesBelowTwoToTheMinus54) {
  EXPECT_EQ(FlushTiny(std::ldexp(1.0, -54)), std::ldexp(1.0, -54));
  EXPECT_EQ(FlushTiny(std::nextafter(std::ldexp(1.0, -54), 0.0)), 0.0);
  EXPECT_EQ(FlushTiny(-std::ldexp(1.0, -55)), 0.0);
  EXPECT_FALSE(std::signbit(FlushTiny(-0.0)));
  EXPECT_EQ(FlushTiny(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(FlushTiny(std::nan("")), 0.0);
  EXPECT_EQ(FlushTiny(std::numeric_limits<double>::max()), std::numeric_limits<double>::max());
}

double PositivePolynomial(int k) { return -0.01279601 + 0.0070177878 * k + 4.5266e-9 * k * k; }
double NegativePolynomial(int k) {
  return -(0.0010158238 * k + 1.1676891e-7 * k * k - 1.135220e-10 * k * k * k);
}

TEST(TransferCurves, MatchTheMeasuredRowsAndStayNearTheirPolynomials) {
  const float* pos = PositiveCurve.entries;
  const float* neg = NegativeCurve.entries;
  EXPECT_EQ(pos[0], 0.0f);
  EXPECT_EQ(pos[1], 0.00136669248f);
  EXPECT_EQ(pos[11], 0.0644077659f);
  EXPECT_EQ(pos[100], 0.689028025f);
  EXPECT_EQ(pos[142], 0.983821392f);
  EXPECT_EQ(pos[143], 0.990840495f);
  EXPECT_EQ(pos[199], 1.38392246f);
  for (int k = 12; k < 200; ++k) EXPECT_NEAR(pos[k], PositivePolynomial(k), 4e-6) << k;
  for (int k = 1; k < 200; ++k) EXPECT_GT(pos[k], pos[k - 1]) << k;

  EXPECT_EQ(neg[1], -0.0010161543f);
  EXPECT_EQ(neg[100], -0.102634713f);
  EXPECT_EQ(neg[199], -0.205873519f);
  for (int k = 0; k < 200; ++k) {
    EXPECT_LE(neg[k], 0.0f) << k;
    EXPECT_NEAR(neg[k], NegativePolynomial(k), 5e-6) << k;
  }
  EXPECT_EQ(DetectorCurve.entries[1], 0.00703295f);
  EXPECT_EQ(DetectorCurve.entries[99], 0.352179f);
}

TEST(TransferCurves, UnityGainReadsAsTheCurvesGain) {
  EXPECT_NEAR(ShapePositive(1.0), 0.984825, 5e-7);
  EXPECT_NEAR(ShapePositive(-1.0), -0.984825, 5e-7);
}

TEST(TransferCurves, LookupsFollowTheirSignRules) {
  EXPECT_GT(ShapeNegative(-0.5), -1.0);
  EXPECT_LT(ShapeNegative(-0.5), 0.0);  // |curve| with the sign of the argument
  EXPECT_GT(ShapeNegative(0.5), 0.0);
  EXPECT_EQ(ShapePositive(-0.3), -ShapePositive(0.3));
  EXPECT_LT(ShapeDetector(0.5), 0.0);  // opposite sign
  EXPECT_GT(ShapeDetector(-0.5), 0.0);
  EXPECT_NEAR(std::fabs(ShapeDetector(1000.0)), 0.352179, 1e-6);  // saturates on the last entry
  EXPECT_NEAR(ShapePositive(50.0), 1.38392246, 1e-7);           // past the end: last entry
}

TEST(TransferCurves, UndefinedOrHugeArgumentsReadEntryZero) {
  EXPECT_EQ(ShapePositive(std::nan("")), 0.0);
  EXPECT_EQ(ShapePositive(1e30), 0.0);  // the index no longer fits 32 bits
  EXPECT_EQ(ShapeNegative(-std::numeric_limits<double>::infinity()), 0.0);
  EXPECT_EQ(ShapeDetector(std::nan("")), 0.0);
}

}  // namespace
