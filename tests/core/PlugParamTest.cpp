#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "PlugParam.h"

namespace {

PlugParam Continuous(double minValue, double maxValue, double step, double shape = 1,
                     double defaultValue = 0) {
  PlugParam p;
  p.InitContinuous("P", defaultValue, minValue, maxValue, step, "%", "", shape);
  return p;
}

std::string Format(const PlugParam& p, double v, bool normalized = false) {
  char text[64];
  p.FormatValue(v, normalized, true, text, sizeof text);
  return text;
}

}  // namespace

TEST(ParameterDisplay, PrecisionFollowsTheStepUpToSixDecimals) {
  EXPECT_EQ(Continuous(0, 1, 0.01).displayPrecision, 2);
  EXPECT_EQ(Continuous(0, 1, 0.001).displayPrecision, 3);
  EXPECT_EQ(Continuous(0, 1, 0.5).displayPrecision, 1);
  EXPECT_EQ(Continuous(0, 1, 1).displayPrecision, 0);
  EXPECT_EQ(Continuous(0, 1, 0.07).displayPrecision, 6);  // not exact in binary
  EXPECT_EQ(Continuous(0, 1, 0.0000001).displayPrecision, 6);
}

TEST(ParameterDisplay, IntegersTruncateTowardZeroAndDecimalsRound) {
  PlugParam integer = Continuous(-10, 10, 1);
  EXPECT_EQ(Format(integer, 2.9), "2");
  EXPECT_EQ(Format(integer, -0.5), "0");
  PlugParam fine = Continuous(-0.001, 0, 0.001, 2);
  EXPECT_EQ(Format(fine, -0.0009), "-0.001");
}

TEST(ParameterDisplay, ValueTextsReplaceNumbersAndHideTheLabel) {
  PlugParam p;
  p.InitInteger("MODE", 0, 0, 2, "dB");
  EXPECT_STREQ(p.HostLabel(), "dB");
  p.AddValueText(1, "Fast");
  p.AddValueText(1, "Ignored");
  p.value = 1;
  EXPECT_EQ(Format(p, 1), "Fast");
  EXPECT_STREQ(p.HostLabel(), "");
  EXPECT_EQ(Format(p, 2), "2");
  double plain = -1;
  EXPECT_TRUE(p.ParseForHost("Fast", &plain));
  EXPECT_EQ(plain, 1);
  EXPECT_FALSE(p.ParseForHost("fast", &plain));  // exact, case-sensitive
}

TEST(ParameterDisplay, FormattingNeverOverrunsTheCallersBuffer) {
  PlugParam p = Continuous(0, 1e300, 0.000001);
  char text[8];
  memset(text, 'x', sizeof text);
  p.FormatValue(1e300, false, false, text, 5);
  EXPECT_EQ(strlen(text), 4u);
  EXPECT_EQ(text[5], 'x');
}

TEST(ParameterDisplay, ParsingReadsTheLeadingNumberLikeAtof) {
  PlugParam p = Continuous(0, 100, 0.01);
  double v = -1;
  EXPECT_TRUE(p.ParseForHost("12.5dB", &v));
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_TRUE(p.ParseForHost("loud", &v));
  EXPECT_EQ(v, 0);
  p.negateDisplay = true;
  EXPECT_TRUE(p.ParseForHost("3", &v));
  EXPECT_EQ(v, -3);
  EXPECT_FALSE(p.ParseForHost(nullptr, &v));
}

TEST(ParameterRange, MaximumIsAtLeastOneStepAboveMinimum) {
  EXPECT_EQ(Continuous(0, 0.5, 1).maxValue, 1);
}

TEST(ParameterRange, InitIntegerKeepsAKindSetEarlier) {
  PlugParam p;
  p.kind = ParamKindContinuous;
  p.InitInteger("X", 0, 0, 3, "");
  EXPECT_EQ(p.kind, ParamKindContinuous);
  PlugParam fresh;
  fresh.InitInteger("X", 0, 0, 3, "");
  EXPECT_EQ(fresh.kind, ParamKindInteger);
}

TEST(ParameterAutomation, SteppedKindsRoundHalfUpToTheStep) {
  PlugParam p;
  p.InitInteger("RATIO", 0, 0, 3, "");
  p.SetFromNormalized(0.5);
  EXPECT_EQ(p.value, 2);  // 1.5 rounds up
  p.SetFromNormalized(1);
  EXPECT_EQ(p.value, 3);
  p.SetFromNormalized(0.1);
  EXPECT_EQ(p.value, 0);
}

TEST(ParameterAutomation, UnsetKindBehavesAsStepped) {
  PlugParam p;  // range 0..1, step 1, never initialised
  p.SetFromNormalized(0.6);
  EXPECT_EQ(p.value, 1);
  p.SetFromNormalized(0.4);
  EXPECT_EQ(p.value, 0);
}

TEST(ParameterAutomation, ContinuousValuesAreNotSnappedAndOnlyTheTopIsLimited) {
  PlugParam p = Continuous(-30, 30, 0.01);
  p.SetFromNormalized(0.5);
  EXPECT_EQ(p.value, 0);
  p.SetFromNormalized(0.123456);
  EXPECT_DOUBLE_EQ(p.value, 0.123456 * 60 - 30);
  p.SetFromNormalized(1.5);
  EXPECT_EQ(p.value, 30);
  p.SetFromNormalized(-0.5);  // no lower limit on this path
  EXPECT_DOUBLE_EQ(p.value, -60);
}

TEST(ParameterAutomation, ShapeTwoRoundTrips) {
  PlugParam p = Continuous(-0.001, 0, 0.001, 2, -0.0009);
  double n = p.NormalizedValue();
  EXPECT_NEAR(n, std::sqrt(0.1), 1e-12);
  EXPECT_NEAR(p.PlainFromNormalized(n), -0.0009, 1e-15);
}

TEST(ParameterAutomation, NormalizedValueClampsOutOfRangeValues) {
  PlugParam p = Continuous(20, 500, 0.01);
  p.value = 1000;
  EXPECT_EQ(p.NormalizedValue(), 1);
  p.value = -5;
  EXPECT_EQ(p.NormalizedValue(), 0);
}

TEST(ParameterRestore, SetClampedLimitsBothEndsAndRejectsNaN) {
  PlugParam p = Continuous(20, 500, 0.01);
  p.SetClamped(700);
  EXPECT_EQ(p.value, 500);
  p.SetClamped(-3);
  EXPECT_EQ(p.value, 20);
  p.SetClamped(std::nan(""));
  EXPECT_EQ(p.value, 20);
}

TEST(ParameterNames, OverlongNamesAreCutToTheField) {
  PlugParam p;
  std::string longName(100, 'N');
  p.InitContinuous(longName.c_str(), 0, 0, 1, 0.1, longName.c_str(), "", 1);
  EXPECT_EQ(strlen(p.name), 31u);
  EXPECT_EQ(strlen(p.label), 31u);
}

TEST(ParameterAutomation, NaNFromAHostChangesNothing) {
  PlugParam p = Continuous(20, 500, 0.01, 1, 100);
  p.SetFromNormalized(std::nan(""));
  EXPECT_EQ(p.value, 100);
  EXPECT_EQ(p.NormalizedFromPlain(std::nan("")), 0);
}

TEST(ParameterAutomation, NormalizedFromPlainFollowsTheRangeAndCurve) {
  PlugParam p = Continuous(-0.001, 0, 0.001, 2, -0.0009);
  EXPECT_EQ(p.NormalizedFromPlain(p.value), p.NormalizedValue());
  EXPECT_EQ(p.NormalizedFromPlain(5), 1);
  EXPECT_EQ(p.NormalizedFromPlain(-5), 0);
  EXPECT_NEAR(p.NormalizedFromPlain(-0.00075), 0.5, 1e-12);
}
