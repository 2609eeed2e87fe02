// One VST2 plug-in instance for a fuzz input: created through the module's
// VSTPluginMain by the harness's scripted host, opened and started as hosts
// do, closed at the end. What a host can read back (parameter values and both
// chunks) is captured as a Snapshot, so a target can check that a refused
// call changed nothing.
#pragma once

#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "ScriptedHost.h"

namespace fuzz {

struct Vst2Snapshot {
  std::vector<float> values;
  std::vector<uint8_t> program, bank;
  bool operator==(const Vst2Snapshot& other) const {
    // Values compared bit for bit: NaN must not hide a change.
    return values.size() == other.values.size() &&
           memcmp(values.data(), other.values.data(), values.size() * sizeof(float)) == 0 &&
           program == other.program && bank == other.bank;
  }
};

class Vst2Session {
 public:
  Vst2Session() : plug_(host_) { plug_.Start(48000.0f, kBlock); }

  static constexpr int kBlock = 64;

  PluginInstance& Plug() { return plug_; }
  ScriptedHost& Host() { return host_; }
  vst2::AEffect* Effect() { return plug_.effect; }

  std::vector<uint8_t> Chunk(int32_t index) { return plug_.Chunk(index); }

  Vst2Snapshot Snapshot() {
    Vst2Snapshot s;
    for (int i = 0; i < kParamCount; ++i) s.values.push_back(plug_.Get(i));
    s.program = Chunk(1);
    s.bank = Chunk(0);
    return s;
  }

  // Every parameter reads back as a normalized value.
  void CheckValues() {
    for (int i = 0; i < kParamCount; ++i) FUZZ_REQUIRE(IsNormalized(plug_.Get(i)));
  }

  // A chunk the plug-in made loads back and leaves the same chunk: saving,
  // reloading and saving again changes nothing.
  void CheckChunkRoundTrip(int32_t index) {
    std::vector<uint8_t> saved = Chunk(index);
    if (saved.empty()) return;
    FUZZ_REQUIRE(plug_.SetChunk(index, saved) == 1);
    FUZZ_REQUIRE(Chunk(index) == saved);
  }

  // One block of a bounded test signal; every output sample must be finite.
  void ProcessBlock(int frames, bool doublePrecision) {
    if (frames < 0 || frames > kBlock) return;
    if (doublePrecision) RunBlock<double>(frames, Effect()->processDoubleReplacing);
    else RunBlock<float>(frames, Effect()->processReplacing);
  }

 private:
  template <typename Sample, typename Proc>
  void RunBlock(int frames, Proc proc) {
    vst2::AEffect* effect = Effect();
    if (!proc || effect->numInputs > 8 || effect->numOutputs > 8) return;
    std::vector<std::vector<Sample>> in(effect->numInputs, std::vector<Sample>(kBlock));
    std::vector<std::vector<Sample>> out(effect->numOutputs, std::vector<Sample>(kBlock));
    std::vector<Sample*> inPtrs, outPtrs;
    for (size_t c = 0; c < in.size(); ++c) {
      for (int i = 0; i < kBlock; ++i) in[c][i] = static_cast<Sample>(std::sin(0.05 * (i + 7 * c)));
      inPtrs.push_back(in[c].data());
    }
    for (auto& channel : out) outPtrs.push_back(channel.data());
    proc(effect, inPtrs.data(), outPtrs.data(), frames);
    for (auto& channel : out)
      for (int i = 0; i < frames; ++i) FUZZ_REQUIRE(std::isfinite(channel[i]));
  }

  ScriptedHost host_;
  PluginInstance plug_;
};

}  // namespace fuzz
