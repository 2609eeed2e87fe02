// The compressor as a user hears it and a host sees it: gain reduction,
// attack and release, mix, bypass, the meter, the oversampling switch, the
// parameter reactions, and numerical hygiene at any sample rate.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "EffectRig.h"
#include "NumberChecks.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

using kestrune_test::IsSubnormal;

using kestrune_test::Rig;
using kestrune_test::SetParam;
using namespace kestrune;

std::vector<double> Sine(double amplitude, double hz, double rate, int frames) {
  std::vector<double> s(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) s[i] = amplitude * std::sin(2 * M_PI * hz * i / rate);
  return s;
}

double Rms(const std::vector<double>& v, size_t from) {
  double sum = 0;
  for (size_t i = from; i < v.size(); ++i) sum += v[i] * v[i];
  return std::sqrt(sum / static_cast<double>(v.size() - from));
}


TEST(GainComputer, TargetFollowsThresholdAndRatio) {
  // INPUT 12: threshold exp(-12 / 8.65617025) = 0.25; ratio 4; level 0.5.
  const double thr = std::exp(-12 / SixDbDivisor);
  EXPECT_NEAR(thr, 0.25, 1e-7);
  const double p = std::exp(-62.83185307 / 44100);
  const double level = DetectorLevel(0.5, p);
  EXPECT_EQ(level, 0.5);  // above 1 - p, the peak passes as it is
  EXPECT_NEAR(TargetGain(level, thr, 12, 4), 0.594604, 1e-6);
  EXPECT_EQ(TargetGain(0.2, thr, 12, 4), 1.0);            // below the threshold
  EXPECT_EQ(TargetGain(std::nan(""), thr, 12, 4), 1.0);   // undefined level
  // Small signals are raised by the square root instead.
  EXPECT_NEAR(DetectorLevel(1e-4, p), std::sqrt(1e-4 * (1 - p) * (1 + p)), 1e-15);
  // Attack 0 reaches the target at once.
  EXPECT_NEAR(SmoothGain(1.0, 0.594604, TimeCoefficient(0, 1, 44100), 0.99), 0.594604, 1e-12);
}

TEST(GainComputer, AttackLimitsHowFastGainFalls) {
  const double cA = TimeCoefficient(-0.0009, 1, 44100);
  const double cASlam = TimeCoefficient(-0.0009, 3, 44100);
  EXPECT_NEAR(cA, 0.975119, 1e-6);
  EXPECT_NEAR(cASlam, 0.927200, 1e-6);
  EXPECT_EQ(SmoothGain(1.0, 0.1, cA, 0.999), cA);          // limited fall
  EXPECT_EQ(SmoothGain(0.5, 0.9, cA, 0.999), 0.5 / 0.999);  // limited rise
  EXPECT_EQ(SmoothGain(0.5, 0.50001, cA, 0.9), 0.50001);    // release stops at the target
}

TEST(CompressorPath, InputAtZeroNeverReducesGain) {
  Rig rig(44100, 0);
  SetParam(rig.plug, kestrune::kInput, 0);
  for (double amplitude : {0.01, 0.5, 2.0}) {
    const std::vector<double> in = Sine(amplitude, 200, 44100, 8192);
    rig.ProcessMono(in);
    EXPECT_EQ(rig.plug.path.state.gainState, 1.0);
    // Output = 0.984825 x (input + 1e-5 x saturation); the saturation share
    // stays below 0.1 %.
    const double ratio = Rms(rig.outLeft, 4096) / Rms(in, 4096);
    EXPECT_NEAR(ratio, 0.984825, 1e-3) << amplitude;
    EXPECT_NE(rig.outLeft[100], 0.984825 * in[100]);  // the saturation stage still runs
  }
  // With no gain reduction the meter settles at 0.
  EXPECT_LT(rig.editor->values.back(), 1e-3);  // 99 % of the way in 0.3 s
}

TEST(CompressorPath, LoudInputIsCompressedAndQuietInputIsNot) {
  Rig rig(44100);
  SetParam(rig.plug, kestrune::kInput, 40);
  SetParam(rig.plug, kestrune::kHpf, 20);
  const std::vector<double> quiet = Sine(0.005, 1000, 44100, 8192);
  rig.ProcessMono(quiet);
  EXPECT_NEAR(Rms(rig.outLeft, 4096) / Rms(quiet, 4096), 0.984825, 1e-3);
  const std::vector<double> loud = Sine(0.9, 1000, 44100, 8192);
  rig.ProcessMono(loud);
  const double gain = Rms(rig.outLeft, 4096) / Rms(loud, 4096);
  EXPECT_LT(gain, 0.3);
  EXPECT_GT(gain, 0.0);
  EXPECT_LT(rig.plug.path.state.gainState, 0.3);
}

TEST(CompressorPath, AttackFallsByAtMostTheAttackFactorPerFrame) {
  for (int slam : {0, 1}) {
    Rig rig(44100);
    SetParam(rig.plug, kestrune::kInput, 60);
    SetParam(rig.plug, kestrune::kSlam, slam);
    const double factor = slam ? 0.927200 : 0.975119;
    const std::vector<double> loud(400, 0.9);
    double previous = 1;
    int limitedFrames = 0;
    for (int f = 0; f < 200; ++f) {
      const double* ins[4] = {&loud[f], &loud[f], &loud[f], &loud[f]};
      rig.Process(ins, 1);
      const double g = rig.plug.path.state.gainState;
      EXPECT_GE(g, previous * factor - 1e-6) << f;
      if (std::fabs(g - previous * factor) < 1e-6) ++limitedFrames;
      previous = g;
    }
    EXPECT_GT(limitedFrames, 10) << "the attack never limited the fall";
  }
}

TEST(CompressorPath, MixZeroGivesTheInputTimesOutputGain) {
  Rig rig(48000);
  SetParam(rig.plug, kestrune::kInput, 50);
  SetParam(rig.plug, kestrune::kMix, 0);
  SetParam(rig.plug, kestrune::kOutput, -6);
  const std::vector<double> in = Sine(0.8, 300, 48000, 3000);
  rig.ProcessMono(in);
  const double outputGain = std::pow(10.0, -6.0 / 20);
  for (int f = 0; f < 3000; ++f) ASSERT_EQ(rig.outLeft[f], in[f] * outputGain) << f;
}

TEST(CompressorPath, BypassCopiesInputsExactlyWhileTheMeterMoves) {
  Rig rig(44100, 2);
  SetParam(rig.plug, kestrune::kInput, 50);
  SetParam(rig.plug, kestrune::kBypass, 1);
  const std::vector<double> left = Sine(0.9, 440, 44100, 4096);
  const std::vector<double> right = Sine(-0.7, 550, 44100, 4096);
  const double* ins[4] = {left.data(), right.data(), left.data(), right.data()};
  rig.Process(ins, 4096);
  EXPECT_EQ(rig.outLeft, left);
  EXPECT_EQ(rig.outRight, right);
  ASSERT_EQ(rig.editor->values.size(), 1u);  // one reading per host block
  EXPECT_EQ(rig.editor->lastIndex, 2);
  // The meter shows the reduction (1 - gain), a little past it while moving.
  EXPECT_NEAR(rig.editor->values.back(), 1 - rig.plug.path.state.gainState, 0.05);
  EXPECT_LT(rig.plug.path.state.gainState, 0.5);
}

TEST(CompressorPath, MeterIsSkippedWithoutAValidControl) {
  Rig rig(44100, 7);  // the editor has three controls
  SetParam(rig.plug, kestrune::kInput, 50);
  rig.ProcessMono(Sine(0.9, 440, 44100, 2048));
  EXPECT_TRUE(rig.editor->values.empty());
  EXPECT_NE(rig.plug.path.state.meterState, 1.0);  // the state still moves
}

TEST(CompressorPath, ExternalSidechainKeysTheGain) {
  Rig rig(44100);
  SetParam(rig.plug, kestrune::kInput, 40);
  SetParam(rig.plug, kestrune::kSidechain, 0);
  const std::vector<double> main = Sine(0.9, 440, 44100, 4096);
  const std::vector<double> silent(4096, 0.0);
  const double* quietKey[4] = {main.data(), main.data(), silent.data(), silent.data()};
  rig.Process(quietKey, 4096);
  EXPECT_EQ(rig.plug.path.state.gainState, 1.0);
  const double* loudKey[4] = {silent.data(), silent.data(), main.data(), main.data()};
  rig.Process(loudKey, 4096);
  EXPECT_LT(rig.plug.path.state.gainState, 0.5);
}

TEST(CompressorPath, UnconnectedSidechainMeansNoGainReduction) {
  Rig rig(44100);
  rig.plug.ConnectInputs(2, 2, false);  // the 2-in configuration
  SetParam(rig.plug, kestrune::kInput, 40);
  SetParam(rig.plug, kestrune::kSidechain, 0);
  const std::vector<double> loud = Sine(0.9, 440, 44100, 4096);
  const double* ins[4] = {loud.data(), loud.data(), loud.data(), loud.data()};
  rig.Process(ins, 4096);  // the host's arrays 3 and 4 are ignored
  EXPECT_EQ(rig.plug.path.state.gainState, 1.0);
}

// Sub-frames per frame, counted on the up-sampling filter's history after
// one frame carrying an impulse.
int SubFramesRun(Rig& rig) {
  rig.plug.ResetProcessing();
  const double one = 1.0;
  const double* ins[4] = {&one, &one, &one, &one};
  rig.Process(ins, 1);
  const BesselHistory h = rig.plug.path.UpSamplingHistory(0);
  int nonzero = 0;
  for (double y : h.y) nonzero += y != 0;
  return nonzero;
}

TEST(CompressorPath, OversamplingSwitchSelectsFourOrSixteenSubFrames) {
  Rig rig(44100);
  EXPECT_EQ(SubFramesRun(rig), 4);
  SetParam(rig.plug, kestrune::kOversampling, 1);
  EXPECT_EQ(rig.plug.path.params.oversampling, 16);
  EXPECT_EQ(SubFramesRun(rig), 11);  // the history holds eleven values, all moved
  SetParam(rig.plug, kestrune::kOversampling, 0);
  EXPECT_EQ(SubFramesRun(rig), 4);
}

TEST(CompressorPath, OversamplingChangesOnlyTheSaturationComponent) {
  const std::vector<double> in = Sine(0.9, 440, 44100, 4096);
  Rig four(44100), sixteen(44100);
  for (Rig* r : {&four, &sixteen}) SetParam(r->plug, kestrune::kInput, 30);
  SetParam(sixteen.plug, kestrune::kOversampling, 1);
  four.ProcessMono(in);
  sixteen.ProcessMono(in);
  double largest = 0;
  for (int f = 0; f < 4096; ++f) largest = std::max(largest, std::fabs(four.outLeft[f] - sixteen.outLeft[f]));
  EXPECT_GT(largest, 0.0);
  EXPECT_LT(largest, 5e-3);  // 1e-5 of the saturation signal
}

TEST(ParameterReactions, OutputRatioAndOversamplingValues) {
  Rig rig(44100);
  CompressorParams& params = rig.plug.path.params;
  SetParam(rig.plug, kestrune::kOutput, -30);
  EXPECT_NEAR(params.outputGain, 0.0316228, 1e-7);
  SetParam(rig.plug, kestrune::kOutput, 0);
  EXPECT_EQ(params.outputGain, 1.0);
  SetParam(rig.plug, kestrune::kOutput, 30);
  EXPECT_NEAR(params.outputGain, 31.6228, 1e-4);
  SetParam(rig.plug, kestrune::kRatio, 3);
  EXPECT_EQ(params.ratioValue, 20);
  SetParam(rig.plug, kestrune::kRatio, 0);
  EXPECT_EQ(params.ratioValue, 4);
  ApplyParamChange(params, kestrune::kRatio, 7);  // out of the table: unchanged
  EXPECT_EQ(params.ratioValue, 4);
  SetParam(rig.plug, kestrune::kAttack, -0.0005);
  EXPECT_EQ(params.attackTime, -0.0005);
  rig.plug.ParamChanged(-1);  // ignored
  rig.plug.ParamChanged(99);
}

TEST(ParameterReactions, SilentUntilParametersAreReported) {
  TestHost host;
  Kestrune plug(&host);
  std::vector<double> in(256, 0.5), outL(256, 9.0), outR(256, 9.0);
  const double* ins[4] = {in.data(), in.data(), in.data(), in.data()};
  double* outs[2] = {outL.data(), outR.data()};
  plug.ProcessHostBlock(ins, 4, outs, 2, 256);
  for (double v : outL) ASSERT_EQ(v, 0.0);
  plug.NotifyAllParamsChanged();
  plug.ProcessHostBlock(ins, 4, outs, 2, 256);
  EXPECT_GT(std::fabs(outL[255]), 0.4);
}

TEST(ParameterReactions, ResetClearsRingingButKeepsGainAndMeter) {
  Rig rig(44100, 0);
  SetParam(rig.plug, kestrune::kInput, 50);
  rig.ProcessMono(Sine(1.5, 3000, 44100, 2048));
  const double gain = rig.plug.path.state.gainState;
  const double meter = rig.plug.path.state.meterState;
  rig.plug.ResetProcessing();
  for (double y : rig.plug.path.UpSamplingHistory(1).y) EXPECT_EQ(y, 0.0);
  EXPECT_EQ(rig.plug.path.state.gainState, gain);
  EXPECT_EQ(rig.plug.path.state.meterState, meter);
}

TEST(Hygiene, SilenceFromTheStartGivesExactZeros) {
  Rig rig(96000);
  SetParam(rig.plug, kestrune::kOversampling, 1);
  rig.ProcessMono(std::vector<double>(5000, 0.0));
  for (int f = 0; f < 5000; ++f) ASSERT_TRUE(rig.outLeft[f] == 0 && rig.outRight[f] == 0);
}

TEST(Hygiene, LowSampleRatesNeverProduceNaNInfinityOrSubnormals) {
  for (double rate : {8000.0, 16000.0}) {
    Rig rig(rate);
    SetParam(rig.plug, kestrune::kInput, 80);
    SetParam(rig.plug, kestrune::kMidFreq, 10000);
    SetParam(rig.plug, kestrune::kMidGain, 6);
    SetParam(rig.plug, kestrune::kHf, -16);
    SetParam(rig.plug, kestrune::kHpf, 500);
    kestrune_fingerprint::NoiseSource noise(7);
    std::vector<double> in(static_cast<size_t>(rate) * 2);
    for (size_t i = 0; i < in.size(); ++i) in[i] = i < in.size() / 2 ? 2 * noise.Next() : 0.0;
    rig.ProcessMono(in);
    for (size_t f = 0; f < in.size(); ++f) {
      ASSERT_TRUE(std::isfinite(rig.outLeft[f]) && !IsSubnormal(rig.outLeft[f])) << rate << " " << f;
      ASSERT_TRUE(std::isfinite(rig.outRight[f]) && !IsSubnormal(rig.outRight[f]));
    }
    EXPECT_TRUE(std::isfinite(rig.plug.path.state.sidechainLeft));
  }
}

#if defined(__SSE__)
TEST(Hygiene, HostFloatingPointStateIsRestoredAfterProcessing) {
  const unsigned int hostState = _mm_getcsr();
  _mm_setcsr(hostState & ~0x8040u);  // host runs without flush-to-zero
  // Only the control bits are the host's state; the six sticky exception
  // flags are set by any inexact arithmetic, the test's own included.
  const unsigned int controlBits = ~0x3Fu;
  const unsigned int before = _mm_getcsr() & controlBits;
  Rig rig(44100);
  rig.ProcessMono(Sine(0.5, 100, 44100, 1000));
  EXPECT_EQ(_mm_getcsr() & controlBits, before);
  _mm_setcsr(hostState);
}
#endif

}  // namespace
