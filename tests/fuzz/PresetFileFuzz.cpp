// Preset files as kestrune-render loads them (--preset): the file's bytes
// handed to the plug-in through the tool's own VST3 or VST2 host, after the
// tool's check that the file is as long as the plug-in's state.
//
// Input: a format byte (1: VST2, else VST3), then the file's bytes.
// Checks: a preset the plug-in refuses changes nothing; an accepted one saves
// back to bytes that load again unchanged; audio afterwards is finite.
#include <cmath>
#include <memory>

#include "FuzzSupport.h"
#include "PluginHost.h"

namespace {

constexpr int kBlock = 64;

void ProcessBlock(render::PluginHost& host) {
  std::vector<std::vector<double>> in(4, std::vector<double>(kBlock));
  std::vector<std::vector<double>> out(2, std::vector<double>(kBlock));
  for (size_t c = 0; c < in.size(); ++c)
    for (int i = 0; i < kBlock; ++i) in[c][i] = 0.8 * std::sin(0.05 * (i + 7 * c));
  const double* inputs[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
  double* outputs[2] = {out[0].data(), out[1].data()};
  host.Process(inputs, outputs, kBlock);
  for (auto& channel : out)
    for (double sample : channel) FUZZ_REQUIRE(std::isfinite(sample));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  const bool vst2 = in.Flag();
  const std::vector<uint8_t> file = in.Rest();

  std::string error;
  std::unique_ptr<render::PluginHost> host =
      vst2 ? render::LoadVst2(KESTRUNE_VST2_MODULE, error)
           : render::LoadVst3(KESTRUNE_VST3_MODULE, error);
  FUZZ_REQUIRE(host);
  FUZZ_REQUIRE(host->Prepare(48000.0, kBlock, false, false, error));

  std::vector<uint8_t> before;
  FUZZ_REQUIRE(host->GetState(before, error));
  if (file.size() != before.size()) return 0;  // refused by the tool itself

  std::vector<uint8_t> after;
  if (!host->SetState(file, error)) {
    FUZZ_REQUIRE(host->GetState(after, error) && after == before);
  } else {
    FUZZ_REQUIRE(host->GetState(after, error));
    std::vector<uint8_t> again;
    FUZZ_REQUIRE(host->SetState(after, error) && host->GetState(again, error) && again == after);
  }
  ProcessBlock(*host);
  return 0;
}
