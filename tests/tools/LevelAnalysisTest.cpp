// What the renderer reports about levels: the gain reduction it prints, plots
// and shows on the editor's meter, and the peak and RMS of its summary.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "LevelAnalysis.h"
#include "LevelPlot.h"

namespace {

using render::LevelAnalysis;

// Feeds `seconds` of a sine at `inputLevel` in and `outputGain` times it out.
void Feed(LevelAnalysis& levels, double seconds, double inputLevel, double outputGain) {
  const double rate = 48000;
  const size_t frames = static_cast<size_t>(seconds * rate);
  std::vector<double> in(frames), out(frames);
  for (size_t n = 0; n < frames; ++n) {
    in[n] = inputLevel * std::sin(2 * M_PI * 1000 * static_cast<double>(n) / rate);
    out[n] = outputGain * in[n];
  }
  const double* ins[2] = {in.data(), in.data()};
  const double* outs[2] = {out.data(), out.data()};
  levels.Add(ins, outs, frames);
}

TEST(LevelAnalysis, HalvedOutputReadsAsSixDecibelsOfReduction) {
  LevelAnalysis levels(48000);
  Feed(levels, 0.5, 0.5, 0.5);
  levels.Finish();
  EXPECT_NEAR(levels.LargestReductionDb(), 6.0206, 1e-3);
  EXPECT_NEAR(levels.FinalReductionDb(), 6.0206, 1e-3);
  EXPECT_NEAR(levels.InputPeakDb(), -6.0206, 1e-3);
  EXPECT_NEAR(levels.OutputPeakDb(), -12.0412, 1e-3);
  EXPECT_NEAR(levels.InputRmsDb(), -6.0206 - 3.0103, 1e-3);  // sine RMS is 3 dB below its peak
  EXPECT_EQ(levels.InputDb().size(), 50u);                     // 10 ms windows
}

TEST(LevelAnalysis, MakeupGainIsTakenOutOfTheReductionButNotOfTheOutputLevel) {
  LevelAnalysis levels(48000);
  levels.SetMakeupGainDb(6.0206);
  Feed(levels, 0.2, 0.25, 1.0);  // output as loud as the input: 6 dB reduced, 6 dB made up
  levels.Finish();
  EXPECT_NEAR(levels.LargestReductionDb(), 6.0206, 1e-3);
  EXPECT_NEAR(levels.OutputPeakDb(), -12.0412, 1e-3);
}

TEST(LevelAnalysis, LouderOutputAndSilenceCountAsNoReduction) {
  LevelAnalysis levels(48000);
  Feed(levels, 0.1, 0.1, 2.0);
  Feed(levels, 0.1, 0.0, 0.0);
  levels.Finish();
  EXPECT_EQ(levels.LargestReductionDb(), 0.0);
  for (double r : levels.ReductionDb()) EXPECT_EQ(r, 0.0);
}

TEST(LevelAnalysis, FinalReductionIsTheLastStretchWithSignalNotTheSilenceAfterIt) {
  LevelAnalysis levels(48000);
  Feed(levels, 0.2, 0.5, 0.1);   // 20 dB
  Feed(levels, 0.2, 0.5, 0.5);   // then 6 dB
  Feed(levels, 0.3, 0.0, 0.0);   // then silence
  levels.Finish();
  EXPECT_NEAR(levels.LargestReductionDb(), 20.0, 1e-3);
  EXPECT_NEAR(levels.FinalReductionDb(), 6.0206, 1e-3);
}

TEST(LevelAnalysis, PartialLastWindowIsCounted) {
  LevelAnalysis levels(48000);
  Feed(levels, 0.0105, 0.5, 0.5);
  levels.Finish();
  EXPECT_EQ(levels.InputDb().size(), 2u);
  EXPECT_NEAR(levels.DurationSeconds(), 0.0105, 1e-9);
}

TEST(LevelPlot, AxisStepsAreRoundAndFitTheTickBudget) {
  EXPECT_EQ(render::NiceTickStep(8.0, 12), 1.0);
  EXPECT_EQ(render::NiceTickStep(180.0, 12), 20.0);
  EXPECT_EQ(render::NiceTickStep(0.3, 12), 0.05);
  EXPECT_EQ(render::NiceTickStep(3600.0, 12), 500.0);
  for (double span : {0.01, 1.0, 7.3, 59.0, 86400.0}) {
    const double step = render::NiceTickStep(span, 12);
    EXPECT_LE(span / step, 12.0 + 1e-9) << span;
    EXPECT_GT(span / step, 2.0) << span;
  }
}

TEST(LevelPlot, DrawsTheReductionBelowTheZeroLineWhereTheOutputDropped) {
  LevelAnalysis levels(48000);
  Feed(levels, 1.0, 0.5, 1.0);   // no reduction in the first half
  Feed(levels, 1.0, 0.5, 0.25);  // 12 dB in the second
  levels.Finish();
  render::Canvas plot = render::DrawLevelPlot(levels, "test");
  EXPECT_EQ(plot.Width(), render::kPlotWidth);
  EXPECT_EQ(plot.Height(), render::kPlotHeight);
  // Just below the zero line of the lower panel: red fill only on the right.
  auto reddish = [&](int x) {
    render::Color c = plot.Pixel(x, 445);
    return c.r > c.g + 40 && c.r > c.b + 40;
  };
  EXPECT_FALSE(reddish(84 + 200));
  EXPECT_TRUE(reddish(84 + 900));
}

}  // namespace
