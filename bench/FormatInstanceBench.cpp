// What one instance costs a host in each plug-in format: the built
// Kestrune.vst3 and Kestrune.clap, each loaded through the host library as
// kestrune-render loads it (the format's entry and interfaces only), run
// with the same settings: 48 kHz, 64-bit, the sidechain connected, INPUT 30
// and 16x oversampling, 512-frame blocks of noise. The time is per block;
// the two formats are meant to cost the same (the binding only translates):
// compare FormatInstance/clap with FormatInstance/vst3.
#ifdef KESTRUNE_BENCH_FORMATS
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "EffectFingerprint.h"
#include "PluginHost.h"

namespace {

constexpr int kBlock = 512;
constexpr int kNoiseBlocks = 16;  // a cycle of distinct blocks

std::unique_ptr<render::PluginHost> Load(bool clap, std::string& error) {
  return clap ? render::LoadClap(KESTRUNE_CLAP_MODULE, error) : render::LoadVst3(KESTRUNE_VST3_MODULE, error);
}

// The index of the parameter named `name`, or -1.
int ParamIndex(render::PluginHost& host, const char* name) {
  for (const render::ParamDescription& d : host.Parameters())
    if (d.name == name) return d.index;
  return -1;
}

void FormatInstance(benchmark::State& state, bool clap) {
  std::string error;
  std::unique_ptr<render::PluginHost> host = Load(clap, error);
  if (!host || !host->Prepare(48000, kBlock, true, true, error)) {
    state.SkipWithError(("the module did not load or prepare: " + error).c_str());
    return;
  }
  const int input = ParamIndex(*host, "INPUT"), oversampling = ParamIndex(*host, "OVERSAMPLING");
  if (input < 0 || oversampling < 0 || !host->SetParameterText(input, "30", error) ||
      !host->SetParameterText(oversampling, "16x", error)) {
    state.SkipWithError(("settings refused: " + error).c_str());
    return;
  }
  std::vector<double> in[4], out[2];
  kestrune_fingerprint::NoiseSource noise(5);
  for (auto& channel : in) {
    channel.resize(static_cast<size_t>(kBlock * kNoiseBlocks));
    for (double& v : channel) v = 0.5 * noise.Next();
  }
  for (auto& channel : out) channel.resize(kBlock);
  double* outs[2] = {out[0].data(), out[1].data()};
  int block = 0;
  for (auto _ : state) {
    const size_t at = static_cast<size_t>(block % kNoiseBlocks) * kBlock;
    const double* ins[4] = {in[0].data() + at, in[1].data() + at, in[2].data() + at, in[3].data() + at};
    host->Process(ins, outs, kBlock);
    benchmark::DoNotOptimize(out[0][kBlock - 1]);
    ++block;
  }
}
BENCHMARK_CAPTURE(FormatInstance, vst3, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FormatInstance, clap, true)->Unit(benchmark::kMicrosecond);

}  // namespace
#endif
