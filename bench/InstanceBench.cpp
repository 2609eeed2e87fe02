// What a host pays for plug-in instances:
//  - InstanceCreation: creating instances of the built VST2 module the way a
//    host scanning plug-ins or opening a project does (VSTPluginMain, then
//    effOpen), in a fresh process each time: the first instance of the
//    process, and later ones. Counters: first_ms, later_ms and
//    first_MB_above_module (resident memory the first instance adds to the
//    process once the module is loaded).
//  - ManyInstances: 64 instances in one process, each processing one
//    512-frame block in turn, as a host does on one core, against one
//    instance processing as many blocks (the tables, histories and buffers
//    of 64 instances do not stay in the caches as one instance's do).
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "EffectFingerprint.h"
#include "Kestrune.h"
#include "TestBinding.h"
#include "vst2/Vst2Abi.h"
#include "FreshProcess.h"

namespace {

// ---------------------------------------------------------------- creation

double ResidentMegabytes() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

intptr_t VSTCALLBACK Host(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == vst2::audioMasterVersion ? 2400 : 0;
}

struct CreationResult {
  double firstSeconds = -1;
  double laterSeconds = -1;  // mean of the later instances
  double firstMegabytes = 0;
};

// In a child process that has never loaded the module: loads it, creates the
// first instance and then more, and reports the times through `fd`.
[[noreturn]] void MeasureCreationInChild(int fd) {
  CreationResult r;
  // KESTRUNE_BENCH_VST2_MODULE names another build of the module to compare.
  const char* path = std::getenv("KESTRUNE_BENCH_VST2_MODULE");
  void* module = dlopen(path && path[0] ? path : KESTRUNE_VST2_MODULE, RTLD_NOW | RTLD_LOCAL);
  auto entry = reinterpret_cast<vst2::AEffect*(VSTCALLBACK*)(vst2::audioMasterCallback)>(
      module ? dlsym(module, "VSTPluginMain") : nullptr);
  if (entry) {
    using Clock = std::chrono::steady_clock;
    auto create = [&]() {
      vst2::AEffect* e = entry(Host);
      if (e) e->dispatcher(e, vst2::effOpen, 0, 0, nullptr, 0);
      return e;
    };
    const double loaded = ResidentMegabytes();
    auto start = Clock::now();
    vst2::AEffect* first = create();
    r.firstSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.firstMegabytes = ResidentMegabytes() - loaded;
    constexpr int kLater = 8;
    std::vector<vst2::AEffect*> later;
    start = Clock::now();
    for (int i = 0; i < kLater; ++i) later.push_back(create());
    r.laterSeconds = std::chrono::duration<double>(Clock::now() - start).count() / kLater;
    if (!first) r.firstSeconds = -1;
    for (vst2::AEffect* e : later)
      if (!e) r.laterSeconds = -1;
  }
  const ssize_t written = write(fd, &r, sizeof r);
  _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
}

void InstanceCreation(benchmark::State& state) {
  double first = 0, later = 0, megabytes = 0;
  for (auto _ : state) {
    CreationResult r;
    const bool got = MeasureInFreshProcess(MeasureCreationInChild, &r);
    if (!got || r.firstSeconds < 0 || r.laterSeconds < 0) {
      state.SkipWithError("the module could not be loaded or created no instance");
      return;
    }
    state.SetIterationTime(r.firstSeconds);
    first += r.firstSeconds;
    later += r.laterSeconds;
    megabytes += r.firstMegabytes;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["first_ms"] = first / n * 1e3;
  state.counters["later_ms"] = later / n * 1e3;
  state.counters["first_MB_above_module"] = megabytes / n;
}
BENCHMARK(InstanceCreation)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- many instances

constexpr double kRate = 48000;
constexpr int kBlock = 512;

struct Instance {
  explicit Instance(int oversampling) : plug(&host) {
    plug.SetSampleRate(kRate);
    const double plain[14] = {30, 2, -0.0005, -0.2, 1, 80, 100, 2000, 3, -6, 0, 0,
                              oversampling == 16 ? 1.0 : 0.0, 0};
    for (int i = 0; i < 14; ++i) plug.ParamAt(i)->SetClamped(plain[i]);
    plug.NotifyAllParamsChanged();
    plug.ResetProcessing();
    outLeft.assign(kBlock, 0.0);
    outRight.assign(kBlock, 0.0);
  }
  TestHost host;
  Kestrune plug;
  std::vector<double> outLeft, outRight;
};

// Per iteration, `count` instances each process one block in turn, then a
// single instance processes `count` blocks; both timed in thread CPU time in
// the same loop, so a busy machine disturbs both alike. Counters: the cost
// per frame and instance of each, and their ratio (many / single).
void ManyInstances(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int oversampling = static_cast<int>(state.range(1));
  const kestrune_fingerprint::Signal signal = kestrune_fingerprint::MakeSignal(
      kestrune_fingerprint::kDrumWithSidechain, kRate, kBlock * 96);
  const int blocks = signal.frames / kBlock;
  std::vector<std::unique_ptr<Instance>> instances;
  for (int i = 0; i < count; ++i) instances.push_back(std::make_unique<Instance>(oversampling));
  Instance single(oversampling);
  auto process = [&](Instance& inst, int block) {
    const int offset = (block % blocks) * kBlock;
    const double* ins[4];
    for (int ch = 0; ch < 4; ++ch) ins[ch] = signal.channel[ch].data() + offset;
    double* outs[2] = {inst.outLeft.data(), inst.outRight.data()};
    inst.plug.ProcessHostBlock(ins, 4, outs, 2, kBlock);
  };
  double manySeconds = 0, singleSeconds = 0;
  int block = 0;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    // Each instance its own track: a different part of the material.
    for (int i = 0; i < count; ++i) process(*instances[static_cast<size_t>(i)], block + i * 7);
    const double t1 = ThreadSeconds();
    for (int i = 0; i < count; ++i) process(single, block + i * 7);
    const double t2 = ThreadSeconds();
    manySeconds += t1 - t0;
    singleSeconds += t2 - t1;
    block = (block + 1) % blocks;
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * kBlock * count;
  state.counters["ns_per_frame"] = manySeconds * 1e9 / frames;
  state.counters["single_ns_per_frame"] = singleSeconds * 1e9 / frames;
  state.counters["many_over_single"] = manySeconds / singleSeconds;
}
BENCHMARK(ManyInstances)->ArgNames({"instances", "over"})->Args({64, 4})->Args({64, 16});

}  // namespace
