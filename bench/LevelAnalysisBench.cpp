// What kestrune-render's level analysis costs beside the plug-in it
// measures: per stereo frame at 48 kHz in blocks of 512, the signal path at
// its default settings and the renderer's two loudness meters (input and
// output: integrated loudness, loudness range, true peak), taking turns
// every eight blocks, each turn timed in thread CPU time. The meters measure
// the drums (argument 0) or white noise at -3 dBFS (argument 1), whose every
// stretch comes near its true peak: nothing of the interpolation is skipped.
//   kestrune-bench --benchmark_filter='^AnalysisBesideEffect' --benchmark_repetitions=5
// Counters: effect_ns_per_frame, analysis_ns_per_frame and
// analysis_over_effect (below 1: the analysis costs less than the effect).
#ifdef KESTRUNE_BENCH_RENDER_ANALYSIS
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BenchSupport.h"
#include "EditorLink.h"
#include "EffectFingerprint.h"
#include "Loudness.h"
#include "KestruneIdentity.h"
#include "SignalPath.h"

namespace {

using namespace kestrune;

constexpr double kRate = 48000;
constexpr int kBlock = 512;

void AnalysisBesideEffect(benchmark::State& state) {
  const kestrune_fingerprint::Signal signal =
      kestrune_fingerprint::MakeSignal(kestrune_fingerprint::kDrumWithSidechain, kRate, kBlock * 96);
  SignalPath path;
  // The parameters' defaults, as a new instance has them.
  const double defaults[][2] = {{kInput, 0},     {kOutput, 0},  {kAttack, -0.0009}, {kRelease, -0.4},
                                {kRatio, 0},     {kHpf, 20},    {kMix, 100},        {kMidFreq, 500},
                                {kMidGain, 0},   {kHf, 0},      {kOversampling, 0}};
  for (const auto& d : defaults) ApplyParamChange(path.params, static_cast<int>(d[0]), d[1]);
  EditorFeed meter;
  BlockSettings settings;
  settings.sampleRate = kRate;
  settings.meter = &meter;
  std::vector<double> outLeft(kBlock), outRight(kBlock);
  double* outs[2] = {outLeft.data(), outRight.data()};
  render::LoudnessMeter input(2, kRate), output(2, kRate);
  const int blocks = signal.frames / kBlock;
  std::vector<std::vector<double>> noise(2, std::vector<double>(static_cast<size_t>(signal.frames)));
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-0.708, 0.708);
  for (auto& channel : noise) {
    for (double& x : channel) x = uniform(random);
  }
  const bool measureNoise = state.range(0) == 1;
  constexpr int kTurn = 8;
  double effectSeconds = 0, analysisSeconds = 0;
  int block = 0;
  for (auto _ : state) {
    const double t1 = ThreadSeconds();
    for (int b = 0; b < kTurn; ++b) {
      const double* ins[4];
      for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + ((block + b) % blocks) * kBlock;
      path.Process(settings, ins, outs, kBlock);
      benchmark::DoNotOptimize(outLeft.data());
      benchmark::ClobberMemory();
    }
    const double t2 = ThreadSeconds();
    for (int b = 0; b < kTurn; ++b) {
      const double* ins[2];
      for (int ch = 0; ch < 2; ++ch) {
        const double* source = measureNoise ? noise[static_cast<size_t>(ch)].data() : signal.channel[ch].data();
        ins[ch] = source + ((block + b) % blocks) * kBlock;
      }
      input.Add(ins, kBlock);
      output.Add(ins, kBlock, true);
    }
    const double t3 = ThreadSeconds();
    effectSeconds += t2 - t1;
    analysisSeconds += t3 - t2;
    block = (block + kTurn) % blocks;
  }
  benchmark::DoNotOptimize(output.TruePeakDb());
  const double frames = static_cast<double>(state.iterations()) * kTurn * kBlock;
  state.counters["effect_ns_per_frame"] = effectSeconds * 1e9 / frames;
  state.counters["analysis_ns_per_frame"] = analysisSeconds * 1e9 / frames;
  state.counters["analysis_over_effect"] = analysisSeconds / effectSeconds;
}

BENCHMARK(AnalysisBesideEffect)->ArgName("noise")->Arg(0)->Arg(1);

}  // namespace
#endif
