#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "TestBinding.h"

namespace {

EffectIdentity IdentityWith(const char* config, int params = 2, int presets = 1) {
  EffectIdentity id;
  id.paramCount = params;
  id.channelConfig = config;
  id.presetCount = presets;
  id.effectName = "Test";
  id.makerName = "Maker";
  return id;
}

// A plug-in whose processing records what it saw.
class ProbePlug : public TestBinding {
 public:
  explicit ProbePlug(const char* config = "2-2 4-2")
      : TestBinding(&host, IdentityWith(config)) {}
  void ProcessBlock(double** inputs, double** outputs, int frames) override {
    ++blocks;
    maxFrames = std::max(maxFrames, frames);
    for (int f = 0; f < frames; ++f) {
      // out0 = in0 + 10 * in2, out1 = in1 + 10 * in3: sidechain channels show up.
      outputs[0][f] = inputs[0][f] + 10 * inputs[2][f];
      outputs[1][f] = inputs[1][f] + 10 * inputs[3][f];
    }
  }
  TestHost host;
  int blocks = 0;
  int maxFrames = 0;
};

}  // namespace

TEST(ChannelConfiguration, ParsesEveryPairAndSizesChannelsToTheLargest) {
  ProbePlug plug("2-2 4-2");
  ASSERT_EQ(plug.ChannelPairs().size(), 2u);
  EXPECT_EQ(plug.ChannelPairs()[0].inputs, 2);
  EXPECT_EQ(plug.ChannelPairs()[1].inputs, 4);
  EXPECT_EQ(plug.ChannelPairs()[1].outputs, 2);
  EXPECT_EQ(plug.InputChannelCount(), 4);
  EXPECT_EQ(plug.OutputChannelCount(), 2);

  ProbePlug single("2-2");
  EXPECT_EQ(single.ChannelPairs().size(), 1u);
  EXPECT_EQ(single.InputChannelCount(), 2);
  EXPECT_EQ(single.OutputChannelCount(), 2);
}

TEST(ChannelConfiguration, LegalIOAcceptsListedPairsAndWildcards) {
  ProbePlug plug;
  EXPECT_TRUE(plug.LegalIO(4, 2));
  EXPECT_TRUE(plug.LegalIO(2, -1));
  EXPECT_TRUE(plug.LegalIO(-1, -1));
  EXPECT_FALSE(plug.LegalIO(1, -1));
  EXPECT_FALSE(plug.LegalIO(4, 4));
}

TEST(ProcessingFrame, UnconnectedInputsReadZeros) {
  ProbePlug plug;
  plug.ConnectInputs(2, 2, false);
  std::vector<double> l(8, 1.0), r(8, 2.0), out0(8), out1(8);
  double* ins[] = {l.data(), r.data()};
  double* outs[] = {out0.data(), out1.data()};
  plug.BindInputs(0, 4, ins);
  plug.BindOutputs(outs);
  plug.RunBlock(8);
  EXPECT_EQ(out0[7], 1.0);
  EXPECT_EQ(out1[7], 2.0);
}

TEST(ProcessingFrame, HostArraysGoToConnectedChannelsInOrder) {
  ProbePlug plug;
  plug.ConnectInputs(0, 2, false);
  std::vector<double> first(4, 3.0), out0(4), out1(4);
  std::vector<double> second(4, 5.0);
  double* ins[] = {first.data(), second.data()};
  double* outs[] = {out0.data(), out1.data()};
  plug.BindInputs(0, 4, ins);
  plug.BindOutputs(outs);
  plug.RunBlock(4);
  // The first host array reached input 3, the second input 4.
  EXPECT_EQ(out0[0], 30.0);
  EXPECT_EQ(out1[0], 50.0);
}

TEST(ProcessingFrame, InputDisconnectedAfterFloatProcessingReadsSilenceNotStaleAudio) {
  ProbePlug plug;
  std::vector<float> a(16, 1.0f), sc(16, 0.5f), out0(16), out1(16);
  const float* ins[] = {a.data(), a.data(), sc.data(), sc.data()};
  float* outs[] = {out0.data(), out1.data()};
  plug.ProcessHostBlock(ins, 4, outs, 2, 16);
  EXPECT_EQ(out0[0], 6.0f);
  plug.ConnectInputs(2, 2, false);
  plug.ProcessHostBlock(ins, 2, outs, 2, 16);
  EXPECT_EQ(out0[0], 1.0f);
}

TEST(ProcessingFrame, FloatBlocksLongerThanTheBlockSizeRunInPieces) {
  ProbePlug plug;
  plug.ChangeBlockSize(64);
  const int frames = 3 * 64;
  std::vector<float> l(frames), r(frames), sl(frames, 0), sr(frames, 0), o0(frames), o1(frames);
  for (int f = 0; f < frames; ++f) {
    l[f] = static_cast<float>(f);
    r[f] = static_cast<float>(-f);
  }
  const float* ins[] = {l.data(), r.data(), sl.data(), sr.data()};
  float* outs[] = {o0.data(), o1.data()};
  plug.ProcessHostBlock(ins, 4, outs, 2, frames);
  EXPECT_EQ(plug.blocks, 3);
  EXPECT_EQ(plug.maxFrames, 64);
  for (int f = 0; f < frames; ++f) {
    ASSERT_EQ(o0[f], l[f]) << f;
    ASSERT_EQ(o1[f], r[f]) << f;
  }
}

TEST(ProcessingFrame, AccumulatingAddsToTheHostOutput) {
  ProbePlug plug;
  plug.ChangeBlockSize(8);
  std::vector<float> in(20, 0.25f), zero(20, 0), o0(20, 1.0f), o1(20, 2.0f);
  const float* ins[] = {in.data(), in.data(), zero.data(), zero.data()};
  float* outs[] = {o0.data(), o1.data()};
  plug.ProcessHostBlock(ins, 4, outs, 2, 20, true);
  EXPECT_EQ(o0[19], 1.25f);
  EXPECT_EQ(o1[0], 2.25f);
}

TEST(ProcessingFrame, DoubleBlocksWithUnconnectedInputsAlsoRunInPieces) {
  ProbePlug plug;
  plug.ChangeBlockSize(16);
  plug.ConnectInputs(2, 2, false);
  std::vector<double> l(50, 1.0), r(50, 1.0), o0(50), o1(50);
  const double* ins[] = {l.data(), r.data()};
  double* outs[] = {o0.data(), o1.data()};
  plug.ProcessHostBlock(ins, 2, outs, 2, 50);
  EXPECT_EQ(plug.maxFrames, 16);
  EXPECT_EQ(o0[49], 1.0);
}

TEST(ProcessingFrame, MissingHostBuffersReadSilenceAndNothingIsWrittenThere) {
  ProbePlug plug;
  std::vector<float> l(8, 1.0f), o0(8, 9.0f);
  const float* ins[] = {l.data(), nullptr, nullptr, nullptr};
  float* outs[] = {o0.data(), nullptr};
  plug.ProcessHostBlock(ins, 4, outs, 2, 8);
  EXPECT_EQ(o0[0], 1.0f);
}

TEST(ProcessingFrame, NoBlockSizeYetGivesSilenceInsteadOfProcessing) {
  TestHost host;
  TestBinding plug(&host, IdentityWith("2-2"));
  plug.ChangeBlockSize(0);
  std::vector<float> in(8, 1.0f), out(8, 7.0f);
  const float* ins[] = {in.data(), in.data()};
  float* outs[] = {out.data(), out.data()};
  plug.ProcessHostBlock(ins, 2, outs, 2, 8);
  EXPECT_EQ(out[3], 0.0f);
}

TEST(ProcessingFrame, ChangeBlockSizeToTheSameSizeKeepsScratchContents) {
  ProbePlug plug;
  plug.ChangeBlockSize(32);
  std::vector<float> in(32, 0.5f), out0(32), out1(32);
  const float* ins[] = {in.data(), in.data(), in.data(), in.data()};
  float* outs[] = {out0.data(), out1.data()};
  plug.ProcessHostBlock(ins, 4, outs, 2, 32);

  // The inputs still point at their scratch, which holds the converted block.
  plug.ChangeBlockSize(32);
  plug.BindOutputsToFloat(outs);
  plug.RunBlockToFloat(32);
  EXPECT_EQ(out0[5], 5.5f);

  // A real size change clears it.
  plug.ChangeBlockSize(33);
  plug.BindOutputsToFloat(outs);
  plug.RunBlockToFloat(32);
  EXPECT_EQ(out0[5], 0.0f);
}

TEST(ProcessingFrame, BaseProcessingCopiesInputsAndPassThroughKeepsLatency) {
  TestHost host;
  TestBinding plug(&host, IdentityWith("2-2"));
  std::vector<double> l = {1, 2, 3, 4}, r = {5, 6, 7, 8}, o0(4), o1(4);
  double* ins[] = {l.data(), r.data()};
  double* outs[] = {o0.data(), o1.data()};
  plug.BindInputs(0, 2, ins);
  plug.BindOutputs(outs);
  plug.RunBlock(4);
  EXPECT_EQ(o1, r);

  plug.CreatePassThroughDelay();
  plug.ChangeLatency(2);
  plug.PassThrough(4);
  EXPECT_EQ(o0, (std::vector<double>{0, 0, 1, 2}));
  plug.PassThrough(4);
  EXPECT_EQ(o0, (std::vector<double>{3, 4, 1, 2}));
}

TEST(PlugInLock, IsRecursiveAndExcludesOtherThreads) {
  ProbePlug plug;
  PlugLockGuard outer(plug);
  PlugLockGuard inner(plug);  // same thread enters again
  bool entered = false;
  std::thread other([&] {
    entered = plug.PlugLock().try_lock();
    if (entered) plug.PlugLock().unlock();
  });
  other.join();
  EXPECT_FALSE(entered);
}

TEST(EditorValues, SetParamFromEditorSetsNotifiesThenReacts) {
  ProbePlug plug;
  plug.ParamAt(0)->InitContinuous("A", 0, 0, 10, 0.01, "", "", 1);
  plug.SetParamFromEditor(0, 0.25);
  EXPECT_DOUBLE_EQ(plug.ParamAt(0)->value, 2.5);
  ASSERT_EQ(plug.host.events.size(), 1u);
  EXPECT_EQ(plug.host.events[0].what, "automate");
  EXPECT_EQ(plug.host.events[0].value, 0.25);
  plug.SetParamFromEditor(99, 0.5);  // out of range: nothing
  EXPECT_EQ(plug.host.events.size(), 1u);
}

TEST(StateComparison, StateMatchesComparesInSinglePrecision) {
  ProbePlug plug;
  plug.ParamAt(0)->value = 0.1;
  plug.ParamAt(1)->value = 7;
  double values[] = {99, 0.1 + 1e-9, 7};
  EXPECT_TRUE(plug.StateMatches(values, 1));
  values[2] = 7.001;
  EXPECT_FALSE(plug.StateMatches(values, 1));
}

TEST(TraceStamp, ZoneBehindUtcEndsWithMinusAndItsOffset) {
  std::tm utc{}, local{};
  utc.tm_year = local.tm_year = 126;
  utc.tm_yday = 100; utc.tm_hour = 12; utc.tm_min = 0;
  local.tm_yday = 100; local.tm_hour = 6; local.tm_min = 30;
  local.tm_mon = 3; local.tm_mday = 11;
  char text[64];
  FormatTraceStamp(local, utc, text, sizeof text);
  EXPECT_EQ(std::string(text), "20260411 06:30 -0530");
}

TEST(TraceStamp, OffsetAcrossMidnightAndYearEnd) {
  std::tm utc{}, local{};
  // Local is already in the new year, UTC still on 31 December.
  utc.tm_yday = 364; utc.tm_hour = 23; utc.tm_min = 0;
  local.tm_yday = 0; local.tm_hour = 1; local.tm_min = 0;
  char text[64];
  FormatTraceStamp(local, utc, text, sizeof text);
  std::string s(text);
  EXPECT_EQ(s.substr(s.size() - 5), "+0200");
  // Local one day behind inside a year.
  utc.tm_yday = 10; utc.tm_hour = 2;
  local.tm_yday = 9; local.tm_hour = 20;
  FormatTraceStamp(local, utc, text, sizeof text);
  s = text;
  EXPECT_EQ(s.substr(s.size() - 5), "-0600");
}
