// The floor under the signal path's cost: the two Bessel filters' dependent
// chains alone, in the exact order of the algorithm
// (y0 = c1 y1 + g x + c2 y2 + ... + c10 y10, each addition waiting for the
// one before), up- and down-sampling side by side as the path runs them,
// nothing else (no flush, no saturation, no gain computer, no outputs).
// Each step costs one multiply and ten dependent additions (nine in the
// up-sampling filter's silent sub-frames); N steps a frame. The signal path
// cannot run faster than this without reordering those additions, which
// would change output bits.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "ChainFloor.h"
#include "EffectFingerprint.h"
#include "KestruneFilters.h"

namespace {

using namespace kestrune;

typedef double Stereo __attribute__((vector_size(16)));

constexpr double kRate = 48000;
constexpr int kBlock = 512;

// Tapes as the path keeps them: 256 sub-frames, then the last eleven
// outputs move back to the start.
constexpr int kChunkSubFrames = 256;
struct Tape {
  Stereo values[11 + kChunkSubFrames];
  Stereo* Rewind(Stereo* top) {
    for (int k = 0; k < 11; ++k) values[k] = top[k - 11];
    return values + 11;
  }
};

template <bool kSilent>
__attribute__((always_inline)) inline Stereo Step(const Stereo* c, Stereo g, Stereo*& top,
                                                  Stereo& newest, Stereo x) {
  const Stereo* y = top;
  __asm__("" : "+r"(y), "+r"(c));
  Stereo sum = c[1] * newest;
  if (!kSilent) sum += g * x;
  sum += c[2] * y[-2];
  sum += c[3] * y[-3];
  sum += c[4] * y[-4];
  sum += c[5] * y[-5];
  sum += c[6] * y[-6];
  sum += c[7] * y[-7];
  sum += c[8] * y[-8];
  sum += c[9] * y[-9];
  sum += c[10] * y[-10];
  newest = sum;
  *top++ = sum;
  return sum;
}

// One block: per frame, N up-sampling steps (the input, then zeros) beside
// N down-sampling steps fed with the previous frame's up-sampling outputs.
template <int N>
__attribute__((target("avx2"), noinline)) void RunChains(const Stereo* c, Stereo g,
                                                        const double* left, const double* right,
                                                        Tape& up, Tape& down, Stereo& upNewest,
                                                        Stereo& downNewest) {
  Stereo* upTop = up.values + 11 + kChunkSubFrames;
  Stereo* downTop = down.values + 11 + kChunkSubFrames;
  Stereo feed[N] = {};
  for (int f = 0; f < kBlock; ++f) {
    if (f % (kChunkSubFrames / N) == 0) {
      upTop = up.Rewind(upTop);
      downTop = down.Rewind(downTop);
    }
    Stereo next[N];
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
      next[j] = j == 0 ? Step<false>(c, g, upTop, upNewest, Stereo{left[f], right[f]})
                       : Step<true>(c, g, upTop, upNewest, Stereo{0, 0});
      Step<false>(c, g, downTop, downNewest, feed[j]);
    }
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) feed[j] = next[j];
  }
  up.Rewind(upTop);
  down.Rewind(downTop);
  std::copy(up.values, up.values + 11, up.values + kChunkSubFrames);
  std::copy(down.values, down.values + 11, down.values + kChunkSubFrames);
}

void RunChainFloor(benchmark::State& state) {
  const int oversampling = static_cast<int>(state.range(0));
  ChainFloor floor(oversampling);
  const kestrune_fingerprint::Signal signal = kestrune_fingerprint::MakeSignal(
      kestrune_fingerprint::kDrumWithSidechain, kRate, kBlock * 96);
  const int blocks = signal.frames / kBlock;
  int block = 0;
  for (auto _ : state) {
    floor.Process(signal.channel[0].data() + block * kBlock,
                  signal.channel[1].data() + block * kBlock);
    block = (block + 1) % blocks;
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * kBlock;
  state.counters["ns_per_frame"] =
      benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(RunChainFloor)->Name("ChainFloor")->ArgName("over")->Arg(4)->Arg(16);

}  // namespace

struct ChainFloor::State {
  int N;
  Stereo c[11];
  Stereo g;
  Tape up, down;
  Stereo upNewest = {0, 0}, downNewest = {0, 0};
};

ChainFloor::ChainFloor(int oversampling) : state_(new State) {
  State& s = *state_;
  s.N = oversampling == 16 ? 16 : 4;
  BesselCoefficients k;
  DesignBessel10(k, 0.2 / s.N);
  for (int i = 0; i <= 10; ++i) s.c[i] = Stereo{k.c[i], k.c[i]};
  s.g = Stereo{k.g, k.g};
  s.up = Tape();
  s.down = Tape();
}

ChainFloor::~ChainFloor() = default;

void ChainFloor::Process(const double* left, const double* right) {
  State& s = *state_;
  if (s.N == 16)
    RunChains<16>(s.c, s.g, left, right, s.up, s.down, s.upNewest, s.downNewest);
  else
    RunChains<4>(s.c, s.g, left, right, s.up, s.down, s.upNewest, s.downNewest);
  benchmark::DoNotOptimize(s.upNewest);
  benchmark::DoNotOptimize(s.downNewest);
}
