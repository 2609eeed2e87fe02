#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

namespace {

PlugParam Hosted(ParamHostFormat format, double minValue, double maxValue,
                 std::vector<const char*> choices = {}) {
  PlugParam p;
  if (choices.empty())
    p.InitContinuous("P", minValue, minValue, maxValue, (maxValue - minValue) / 100, "%", "", 1);
  else
    p.InitInteger("P", minValue, minValue, maxValue, "");
  p.SetHostFormat(format, std::move(choices));
  return p;
}

std::string Shown(const PlugParam& p, double plain) {
  char text[64];
  p.HostDisplay(plain, true, text, sizeof text);
  return text;
}

}  // namespace

TEST(ParameterSteps, ShownSavedLoadedAndPlainValuesAreTheStepProcessingRoundsTo) {
  PlugParam bypass = Hosted(ParamHostFormat::Choices, 0, 1, {"Off", "On"});
  bypass.SetClamped(0.7);  // a saved state holding 0.7
  EXPECT_EQ(bypass.value, 1);
  EXPECT_EQ(Shown(bypass, 0.7), "On");
  EXPECT_EQ(bypass.NormalizedFromPlain(0.37), 0);
  PlugParam ratio = Hosted(ParamHostFormat::Choices, 0, 3, {"4:1", "8:1", "12:1", "20:1"});
  EXPECT_EQ(ratio.ValueAtNormalized(0.6), 2);  // 1.8 rounds up, as SetFromNormalized
  EXPECT_EQ(Shown(ratio, ratio.PlainFromNormalized(0.6)), "12:1");
  EXPECT_EQ(ratio.HostPlainFromValue(1.4), 1);
}

TEST(ParameterHostText, OnlyTextThatIsPlainlyAValueIsRead) {
  PlugParam bypass = Hosted(ParamHostFormat::Choices, 0, 1, {"Off", "On"});
  PlugParam ratio = Hosted(ParamHostFormat::Choices, 0, 3, {"4:1", "8:1", "12:1", "20:1"});
  PlugParam oversampling = Hosted(ParamHostFormat::Choices, 0, 1, {"4x", "16x"});
  PlugParam sidechain = Hosted(ParamHostFormat::Choices, 0, 1, {"EXT", "INT"});
  PlugParam drive = Hosted(ParamHostFormat::DriveDecibels, 0, 80);
  PlugParam output = Hosted(ParamHostFormat::Decibels, -30, 30);
  PlugParam hf = Hosted(ParamHostFormat::DecibelsNegated, -16, 0);
  PlugParam attack = Hosted(ParamHostFormat::MillisecondsNegated, -0.001, 0);
  PlugParam midFreq = Hosted(ParamHostFormat::Hertz, 500, 10000);
  double v = 0;
  // Control characters, spaces inside a word or number, other encodings.
  EXPECT_FALSE(bypass.HostParse("O\nn", &v));
  EXPECT_FALSE(oversampling.HostParse("1 6x", &v));
  EXPECT_FALSE(ratio.HostParse("2\n0\n:\n1", &v));
  EXPECT_FALSE(drive.HostParse("40 d\nB", &v));
  EXPECT_FALSE(drive.HostParse("40 d B", &v));
  EXPECT_FALSE(sidechain.HostParse("EX T", &v));
  EXPECT_FALSE(drive.HostParse("40\xC2\xA0", &v));
  EXPECT_TRUE(ratio.HostParse("4 : 1", &v) && v == 0);
  EXPECT_TRUE(midFreq.HostParse(" 2.5 kHz ", &v) && v == 2500);
  // Longer than a host's text field: refused, never cut.
  EXPECT_FALSE(drive.HostParse(("1" + std::string(126, ' ') + "garbage").c_str(), &v));
  EXPECT_TRUE(drive.HostParse(("40" + std::string(125, ' ')).c_str(), &v) && v == 40);
  // One sign rule: a negative time or boost is refused, bare or with its unit.
  for (const char* text : {"-5", "-5 dB"}) EXPECT_FALSE(hf.HostParse(text, &v)) << text;
  for (const char* text : {"-0.0005", "-0.5 ms"}) EXPECT_FALSE(attack.HostParse(text, &v)) << text;
  EXPECT_TRUE(output.HostParse("-5 dB", &v) && v == -5);
  EXPECT_TRUE(hf.HostParse("8.088dB", &v) && v == -8.088);
  // Display, read back, display again: the same text.
  EXPECT_EQ(Shown(midFreq, 999.96), "1.00 kHz");
  ASSERT_TRUE(midFreq.HostParse("1.00 kHz", &v));
  EXPECT_EQ(Shown(midFreq, v), "1.00 kHz");
  EXPECT_EQ(Shown(midFreq, 999.94), "999.9 Hz");
}

TEST(ParameterHostText, ABareNumberOnStepsIsAValueInTheUnitTheyShow) {
  PlugParam ratio = Hosted(ParamHostFormat::Choices, 0, 3, {"4:1", "8:1", "12:1", "20:1"});
  PlugParam oversampling = Hosted(ParamHostFormat::Choices, 0, 1, {"4x", "16x"});
  PlugParam bypass = Hosted(ParamHostFormat::Choices, 0, 1, {"Off", "On"});
  auto parsed = [](const PlugParam& p, const char* text) {
    double v = -1;
    return p.HostParse(text, &v) ? v : -1;
  };
  // Nearest step, a tie to the higher one, beyond the steps held at the end.
  EXPECT_EQ(parsed(ratio, "3"), 0);
  EXPECT_EQ(parsed(ratio, "0"), 0);
  EXPECT_EQ(parsed(ratio, "10"), 2);
  EXPECT_EQ(parsed(ratio, "13.5"), 2);
  EXPECT_EQ(parsed(ratio, "25"), 3);
  EXPECT_EQ(parsed(ratio, "100"), 3);
  EXPECT_EQ(parsed(oversampling, "1"), 0);
  EXPECT_EQ(parsed(oversampling, "10"), 1);
  // Nothing shown is negative, and a switch shows no number.
  EXPECT_EQ(parsed(ratio, "-1"), -1);
  EXPECT_EQ(parsed(bypass, "1"), -1);
  EXPECT_EQ(parsed(bypass, "-1"), -1);
}

TEST(ParameterAutomation, HostsNormalizedValueRisesWithTheShownValue) {
  PlugParam attack;  // negated seconds, shown as positive ms
  attack.InitContinuous("ATTACK", -0.0009, -0.001, 0, 0.001, "%", "", 2);
  attack.SetHostFormat(ParamHostFormat::MillisecondsNegated);
  PlugParam output = Hosted(ParamHostFormat::Decibels, -30, 30);
  EXPECT_EQ(attack.HostNormalizedFromPlain(0), 0);  // 0 ms at a slider's left end
  EXPECT_EQ(attack.HostNormalizedFromPlain(-0.001), 1);
  EXPECT_EQ(output.HostNormalizedFromPlain(-30), 0);
  // The same curve, mirrored; the editor's knob keeps its own direction.
  EXPECT_NEAR(attack.HostNormalizedValue(), 1 - attack.NormalizedValue(), 1e-15);
  EXPECT_NEAR(attack.ValueAtHostNormalized(attack.HostNormalizedValue()), -0.0009, 1e-15);
  // A host's float echo of the value leaves it exactly as it is.
  attack.SetFromHostNormalized(static_cast<float>(attack.HostNormalizedValue()));
  EXPECT_EQ(attack.value, -0.0009);
  attack.SetFromHostNormalized(0.25);
  EXPECT_NEAR(attack.value, -0.001 + 0.001 * 0.75 * 0.75, 1e-15);  // 0.44 ms
}
