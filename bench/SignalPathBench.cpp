// Cost of the compressor's signal path per stereo frame at 48 kHz, block 512,
// for the straightforward and the optimised implementation in the same run:
//   kestrune-bench --benchmark_filter='^Optimised/' --benchmark_repetitions=7
// To compare with the signal path of an older commit on the same machine at
// the same moment, bench/compare-signal-path.sh builds that commit's
// benchmark and runs both in turns. Paired (see there) sets the path beside
// the floor of its filter chains.
// Counters: ns_per_frame and realtime (seconds of audio per CPU second).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <type_traits>
#include <vector>

#include "BenchSupport.h"
#include "ChainFloor.h"
#include "EditorLink.h"
#include "EffectFingerprint.h"
#include "ReferencePath.h"
#include "SignalPath.h"
#include "TallyingSignalPath.h"

namespace {

using namespace kestrune;

constexpr double kRate = 48000;
constexpr int kBlock = 512;

// Drum hits on the main input, a different beat on the sidechain; compression
// active most of the time.
const kestrune_fingerprint::Signal& DrumMaterial() {
  static const kestrune_fingerprint::Signal signal =
      kestrune_fingerprint::MakeSignal(kestrune_fingerprint::kDrumWithSidechain, kRate, kBlock * 96);
  return signal;
}

template <class Path>
void Configure(Path& path, int oversampling) {
  const double plain[13] = {30, 2, -0.0005, -0.2, 1, 80, 100, 2000, 3, -6, 0, 0,
                            oversampling == 16 ? 1.0 : 0.0};
  for (int i = 0; i < 13; ++i) ApplyParamChange(path.params, i, plain[i]);
}

// 48 kHz, SLAM from the benchmark's second argument, the meter shown.
BlockSettings SettingsFor(const benchmark::State& state, EditorFeed* meter) {
  BlockSettings settings;
  settings.sampleRate = kRate;
  settings.slam = static_cast<int>(state.range(1));
  settings.meter = meter;
  return settings;
}

enum Workload { kMusic, kSilenceAfterBurst };

template <class Path>
void RunPath(benchmark::State& state, Workload material) {
  EditorFeed meter;
  Path path;
  Configure(path, static_cast<int>(state.range(0)));
  const BlockSettings settings = SettingsFor(state, &meter);

  const kestrune_fingerprint::Signal& signal = DrumMaterial();
  std::vector<double> outLeft(kBlock), outRight(kBlock);
  double* outs[2] = {outLeft.data(), outRight.data()};
  const std::vector<double> silence(kBlock, 0.0);
  const double* silent[4] = {silence.data(), silence.data(), silence.data(), silence.data()};

  if (material == kSilenceAfterBurst) {
    // Loud material, then the timed part is all silence: the filters ring
    // down towards the flush threshold where subnormals would otherwise appear.
    for (int b = 0; b < 40; ++b) {
      const double* ins[4];
      for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + b * kBlock;
      path.Process(settings, ins, outs, kBlock);
    }
  }

  const int blocks = signal.frames / kBlock;
  int block = 0;
  for (auto _ : state) {
    if (material == kSilenceAfterBurst) {
      path.Process(settings, silent, outs, kBlock);
    } else {
      const double* ins[4];
      for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + block * kBlock;
      path.Process(settings, ins, outs, kBlock);
      block = (block + 1) % blocks;
    }
    benchmark::DoNotOptimize(outLeft.data());
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * kBlock;
  state.counters["ns_per_frame"] =
      benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
  if (std::is_same_v<Path, SignalPath> && material == kMusic) {
    // Share of the frames above the threshold whose exact target gain (a
    // log and an exp) had to be computed, from an untimed run of the same
    // loop with a tally, over the material once.
    kestrune_test::TallyingSignalPath tallying;
    Configure(tallying, static_cast<int>(state.range(0)));
    for (int b = 0; b < blocks; ++b) {
      const double* ins[4];
      for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + b * kBlock;
      tallying.Process(settings, ins, outs, kBlock);
    }
    const auto& counts = tallying.TargetGainCounts();
    state.counters["exact_share"] =
        counts.aboveThreshold ? static_cast<double>(counts.exact) / counts.aboveThreshold : 0.0;
  }
}

// The optimised path and the filter chains alone (ChainFloor) in one loop,
// taking turns every eight blocks, each turn timed in thread CPU time: both
// see the same machine state, which on a shared machine varies far more from
// one repetition to the next than the difference measured. Counters:
// ns_per_frame, floor_ns_per_frame and above_floor (path / floor).
void Paired(benchmark::State& state) {
  EditorFeed meter;
  SignalPath now;
  Configure(now, static_cast<int>(state.range(0)));
  const BlockSettings settings = SettingsFor(state, &meter);
  const kestrune_fingerprint::Signal& signal = DrumMaterial();
  std::vector<double> outLeft(kBlock), outRight(kBlock);
  double* outs[2] = {outLeft.data(), outRight.data()};
  const int blocks = signal.frames / kBlock;
  constexpr int kTurn = 8;
  double nowSeconds = 0, floorSeconds = 0;
  ChainFloor floor(static_cast<int>(state.range(0)));
  int block = 0;
  auto run = [&](auto& path, int first) {
    for (int b = 0; b < kTurn; ++b) {
      const double* ins[4];
      for (int ch = 0; ch < 4; ++ch)
        ins[ch] = signal.channel[ch].data() + ((first + b) % blocks) * kBlock;
      path.Process(settings, ins, outs, kBlock);
      benchmark::DoNotOptimize(outLeft.data());
      benchmark::ClobberMemory();
    }
  };
  for (auto _ : state) {
    double t1 = ThreadSeconds();
    run(now, block);
    double t2 = ThreadSeconds();
    for (int b = 0; b < kTurn; ++b) {
      const int offset = ((block + b) % blocks) * kBlock;
      floor.Process(signal.channel[0].data() + offset, signal.channel[1].data() + offset);
    }
    double t3 = ThreadSeconds();
    nowSeconds += t2 - t1;
    floorSeconds += t3 - t2;
    block = (block + kTurn) % blocks;
  }
  const double frames = static_cast<double>(state.iterations()) * kTurn * kBlock;
  state.counters["ns_per_frame"] = nowSeconds * 1e9 / frames;
  state.counters["floor_ns_per_frame"] = floorSeconds * 1e9 / frames;
  state.counters["above_floor"] = nowSeconds / floorSeconds;
}

void Straightforward(benchmark::State& state) { RunPath<ReferencePath>(state, kMusic); }
void Optimised(benchmark::State& state) { RunPath<SignalPath>(state, kMusic); }
void OptimisedSilenceAfterBurst(benchmark::State& state) {
  RunPath<SignalPath>(state, kSilenceAfterBurst);
}
void StraightforwardSilenceAfterBurst(benchmark::State& state) {
  RunPath<ReferencePath>(state, kSilenceAfterBurst);
}

// Arguments: oversampling factor, SLAM.
// With repetitions, the minimum is reported beside mean, median and spread:
// on a shared machine it is the run least disturbed by other work.
double Minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
#define KESTRUNE_CASES                                                                   \
  ArgNames({"over", "slam"})->Args({4, 0})->Args({4, 1})->Args({16, 0})->Args({16, 1}) \
      ->ComputeStatistics("min", Minimum)
BENCHMARK(Straightforward)->KESTRUNE_CASES;
BENCHMARK(Optimised)->KESTRUNE_CASES;
BENCHMARK(Paired)->KESTRUNE_CASES;
BENCHMARK(StraightforwardSilenceAfterBurst)->KESTRUNE_CASES;
BENCHMARK(OptimisedSilenceAfterBurst)->KESTRUNE_CASES;

}  // namespace
