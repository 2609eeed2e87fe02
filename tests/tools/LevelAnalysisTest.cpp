// What the renderer reports about levels: the gain reduction it prints, plots
// and shows on the editor's meter, and the peak and RMS of its summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "LevelAnalysis.h"
#include "LevelPlot.h"
#include "Loudness.h"

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

TEST(LevelAnalysis, LongStreamKeepsABoundedPlotAndTheShortestDropInTheSummary) {
  // At 100 Hz a window is one frame: many windows for little work.
  LevelAnalysis levels(100);
  const size_t frames = 3 * LevelAnalysis::kMaxWindows + 5;
  std::vector<double> in(frames, 0.5), out(frames, 0.25);
  out[1000] = 0.05;  // one window 20 dB down
  const double* ins[2] = {in.data(), in.data()};
  const double* outs[2] = {out.data(), out.data()};
  levels.Add(ins, outs, frames);
  levels.Finish();
  EXPECT_LT(levels.InputDb().size(), LevelAnalysis::kMaxWindows);
  EXPECT_NEAR(levels.InputDb().size() * levels.WindowSeconds(), levels.DurationSeconds(), levels.WindowSeconds());
  EXPECT_NEAR(levels.LargestReductionDb(), 20.0, 1e-9);
  EXPECT_NEAR(levels.FinalReductionDb(), 6.0206, 1e-3);
  EXPECT_NEAR(levels.InputDb().back(), -6.0206, 1e-3);
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

bool Reddish(const Rgba& c) { return c.r > c.g + 0.15f && c.r > c.b + 0.15f; }

TEST(LevelPlot, DrawsTheLevelChangeBelowTheZeroLineWhereTheOutputDropped) {
  LevelAnalysis levels(48000);
  Feed(levels, 1.0, 0.5, 1.0);   // no change in the first half
  Feed(levels, 1.0, 0.5, 0.25);  // 12 dB less in the second
  levels.Finish();
  Canvas plot = render::DrawLevelPlot(levels, "test");
  EXPECT_EQ(plot.Width(), render::kPlotWidth);
  EXPECT_EQ(plot.Height(), render::kPlotHeight);
  // Just below the zero line of the lower panel: red fill only on the right.
  const int y = render::PlotLayout::kChangeTop + 13;
  EXPECT_FALSE(Reddish(plot.Pixel(render::PlotLayout::kLeft + 200, y)));
  EXPECT_TRUE(Reddish(plot.Pixel(render::PlotLayout::kLeft + 900, y)));
}

TEST(LevelPlot, MarksFullScaleAndWhereTheOutputWentBeyondIt) {
  LevelAnalysis levels(48000);
  Feed(levels, 1.0, 0.5, 1.0);
  Feed(levels, 1.0, 0.5, 3.0);  // peaks at 1.5: clipped in an integer file
  levels.Finish();
  ASSERT_EQ(levels.ClippedWindows().size(), 200u);
  EXPECT_EQ(levels.ClippedWindows()[50], 0);
  EXPECT_EQ(levels.ClippedWindows()[150], 1);
  Canvas plot = render::DrawLevelPlot(levels, "test");
  const int y = render::PlotLayout::kLevelTop + 4;
  EXPECT_FALSE(Reddish(plot.Pixel(render::PlotLayout::kLeft + 200, y)));
  EXPECT_TRUE(Reddish(plot.Pixel(render::PlotLayout::kLeft + 900, y)));
  // A bright 0 dBFS line runs across the panel, below its top (+6 dBFS).
  int fullScaleRows = 0;
  for (int row = render::PlotLayout::kLevelTop + 2; row < render::PlotLayout::kLevelBottom; ++row) {
    const Rgba c = plot.Pixel(render::PlotLayout::kLeft + 300, row);
    fullScaleRows += c.r > 0.9f && c.g > 0.9f && c.b > 0.9f;
  }
  EXPECT_EQ(fullScaleRows, 1);
}

TEST(LevelPlot, LevelScaleReachesDownAsFarAsTheMaterial) {
  LevelAnalysis loud(48000), quiet(48000), withSilence(48000);
  Feed(loud, 1.0, 0.5, 0.5);                     // about -9 dBFS
  Feed(quiet, 1.0, 0.0005, 0.0005);              // about -69 dBFS
  Feed(withSilence, 1.0, 0.5, 0.5);
  Feed(withSilence, 1.0, 0.0, 0.0);              // digital silence does not count
  for (LevelAnalysis* levels : {&loud, &quiet, &withSilence}) levels->Finish();
  EXPECT_EQ(render::LevelFloorDb(loud, 0), -24.0);  // at most 24 dB below the top, never closer
  EXPECT_LE(render::LevelFloorDb(quiet, 0), -72.0);
  EXPECT_GT(render::LevelFloorDb(quiet, 0), -90.0);
  EXPECT_EQ(render::LevelFloorDb(withSilence, 0), -24.0);
}

TEST(LevelPlot, TimeLabelsOfNeighbouringTicksDifferOnShortFiles) {
  for (double span : {0.0005, 0.003, 0.012, 0.25, 8.0, 3600.0}) {
    const double step = render::NiceTickStep(span, 12);
    for (int i = 0; i * step <= span; ++i) {
      EXPECT_NE(render::TickLabel(i * step, step), render::TickLabel((i + 1) * step, step)) << span;
    }
  }
  EXPECT_EQ(render::TickLabel(0.0015, 0.0005), "0.0015");
  EXPECT_EQ(render::TickLabel(2.0, 1.0), "2");
  EXPECT_EQ(render::TickLabel(-0.0, 0.5), "0.0");
}

// Stereo `seconds` of a sine at 48 kHz, in blocks of 37 frames (the meter's
// own stretches never line up with them); `lowered` from `lowerFrom` on.
void FeedTone(render::LoudnessMeter& meter, double frequency, double phase, double amplitude, double seconds,
              double lowerFrom = 1e9, double lowered = 1) {
  std::vector<double> block(37);
  const size_t frames = static_cast<size_t>(seconds * 48000);
  for (size_t start = 0; start < frames; start += block.size()) {
    const size_t n = std::min(block.size(), frames - start);
    for (size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(start + i) / 48000;
      // Switched on and off gently: no ringing above the amplitude.
      const double fade = std::min({1.0, t / 0.05, (seconds - t) / 0.05});
      block[i] = amplitude * fade * (t >= lowerFrom ? lowered : 1) * std::sin(2 * M_PI * frequency * t + phase);
    }
    const double* channels[2] = {block.data(), block.data()};
    meter.Add(channels, n);
  }
}

// A tone's true peak is its amplitude: read between the samples (a 12 kHz
// tone's samples all fall 3 dB below its peaks), up to 20 kHz, and never above it.
TEST(LoudnessMeter, TruePeakOfTonesIsTheirAmplitudeNeitherLowerNorHigher) {
  for (double frequency : {12000.0, 17000.0, 20000.0}) {
    render::LoudnessMeter meter(2, 48000);
    FeedTone(meter, frequency, M_PI / 4, 0.5, 0.5);
    const double truePeak = meter.TruePeakDb();
    EXPECT_GE(truePeak, -6.0206 - 0.05) << frequency;
    EXPECT_LE(truePeak, -6.0206 + 0.005) << frequency;
  }
}

// The loudness range takes the 3 s loudness every 100 ms, as ffmpeg does
// (one a second would give a single window here, and no range): 3 s of a
// tone, then 0.5 s 40 dB down, read 0.74 LU in ffmpeg's ebur128 filter.
TEST(LoudnessMeter, RangeTakesTheShortTermLoudnessEvery100Milliseconds) {
  render::LoudnessMeter meter(2, 48000);
  FeedTone(meter, 1000, 0, 0.5, 3.5, 3.0, 0.01);
  EXPECT_NEAR(meter.RangeLu(), 0.74, 0.02);
}

}  // namespace
