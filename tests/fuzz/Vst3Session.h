// One VST3 plug-in instance for a fuzz input, reached as a DAW reaches it:
// the module loaded once per process (dlopen, ModuleEntry, GetPluginFactory),
// an instance from the factory, initialized with a host context, its main
// buses activated, processing set up and switched on; switched off,
// terminated and released at the end, when every reference it took must be
// back. What a host can read back (the controller state, every parameter's
// normalized value, the bus layout) is captured as a Snapshot, so a target
// can check that a refused call changed nothing.
#pragma once

#include <cmath>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "HostObjects.h"

namespace fuzz {

using namespace Steinberg;
using namespace Steinberg::Vst;

constexpr ParamID kPresetId = 0x70727374;  // 'prst'
constexpr ParamID kBypassId = 0x62706173;  // 'bpas'

inline const std::vector<ParamID>& KnownIds() {
  static const std::vector<ParamID> ids = [] {
    std::vector<ParamID> all;
    for (ParamID id = 0; id < static_cast<ParamID>(kParamCount); ++id) all.push_back(id);
    all.push_back(kPresetId);
    all.push_back(kBypassId);
    return all;
  }();
  return ids;
}

// A parameter ID from one input byte: 0xFF and a 32-bit ID follows; any
// other byte picks one of the plug-in's IDs (0..13 the parameters, 14 'prst',
// 15 'bpas', modulo 16).
inline ParamID HostParamId(HostInput& in) {
  uint8_t pick = in.Take<uint8_t>();
  if (pick == 0xFF) return in.Take<ParamID>();
  return KnownIds()[pick % KnownIds().size()];
}

// A host's UTF-16 text from input bytes, terminated: UTF-8 sequences of two
// or three bytes are decoded (leniently, so a lone surrogate can be written
// too), any other byte is one unit. Not cut to a String128: a host may hand
// a longer text.
inline std::vector<TChar> HostUtf16(const std::string& bytes) {
  std::vector<TChar> units;
  auto continuation = [&](size_t at) {
    return at < bytes.size() && (static_cast<uint8_t>(bytes[at]) & 0xC0) == 0x80;
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    if ((b & 0xE0) == 0xC0 && continuation(i + 1)) {
      units.push_back(static_cast<TChar>(((b & 0x1F) << 6) | (bytes[i + 1] & 0x3F)));
      i += 1;
    } else if ((b & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      units.push_back(static_cast<TChar>(((b & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                                         (bytes[i + 2] & 0x3F)));
      i += 2;
    } else {
      units.push_back(static_cast<TChar>(b));
    }
  }
  units.push_back(0);
  return units;
}

struct Vst3Snapshot {
  std::vector<uint8_t> state;
  std::vector<ParamValue> normalized;
  std::vector<SpeakerArrangement> buses;  // inputs, then outputs
  bool operator==(const Vst3Snapshot& other) const {
    // Values compared bit for bit: NaN must not hide a change.
    return state == other.state && buses == other.buses &&
           normalized.size() == other.normalized.size() &&
           memcmp(normalized.data(), other.normalized.data(),
                  normalized.size() * sizeof(ParamValue)) == 0;
  }
};

class Vst3Session {
 public:
  static constexpr int32 kBlock = 64;

  Vst3Session() : plugin_(Factory()) {
    FUZZ_REQUIRE(plugin_.component && plugin_.processor && plugin_.controller);
    FUZZ_REQUIRE(plugin_.component->initialize(&app_) == kResultOk);
    plugin_.component->activateBus(kAudio, kInput, 0, true);
    plugin_.component->activateBus(kAudio, kOutput, 0, true);
    ProcessSetup setup{kRealtime, kSample32, kBlock, 48000.0};
    FUZZ_REQUIRE(plugin_.processor->setupProcessing(setup) == kResultOk);
    FUZZ_REQUIRE(plugin_.component->setActive(true) == kResultOk);
  }

  ~Vst3Session() {
    plugin_.component->setActive(false);
    plugin_.component->terminate();
    FUZZ_REQUIRE(plugin_.Release() == 0);
    FUZZ_REQUIRE(app_.refs == 0);
  }

  IComponent* Component() { return plugin_.component; }
  IAudioProcessor* Processor() { return plugin_.processor; }
  IEditController* Controller() { return plugin_.controller; }

  std::vector<uint8_t> State() {
    host::Stream stream;
    FUZZ_REQUIRE(Controller()->getState(&stream) == kResultOk);
    return stream.bytes;
  }

  tresult LoadState(const std::vector<uint8_t>& bytes) {
    host::Stream stream;
    stream.bytes = bytes;
    return Controller()->setState(&stream);
  }

  Vst3Snapshot Snapshot() {
    Vst3Snapshot s;
    s.state = State();
    for (ParamID id : KnownIds()) s.normalized.push_back(Controller()->getParamNormalized(id));
    for (BusDirection dir : {kInput, kOutput}) {
      int32 count = Component()->getBusCount(kAudio, dir);
      for (int32 i = 0; i < count; ++i) {
        SpeakerArrangement arrangement = 0;
        Processor()->getBusArrangement(dir, i, arrangement);
        s.buses.push_back(arrangement);
      }
    }
    return s;
  }

  // Every parameter reads back as a normalized value.
  void CheckValues() {
    for (ParamID id : KnownIds()) FUZZ_REQUIRE(IsNormalized(Controller()->getParamNormalized(id)));
  }

  // A state the plug-in saved loads back and saves the same bytes again.
  void CheckStateRoundTrip() {
    std::vector<uint8_t> saved = State();
    FUZZ_REQUIRE(LoadState(saved) == kResultOk);
    FUZZ_REQUIRE(State() == saved);
  }

  // One block through process() with buffers for every bus as the plug-in
  // describes it now, a bounded test signal in and finite samples out.
  void Process(int32 frames, int32 sampleSize, IParameterChanges* changes,
               ProcessContext* context = nullptr) {
    if (sampleSize == kSample64) RunBlock<Sample64>(frames, sampleSize, changes, context);
    else RunBlock<Sample32>(frames, sampleSize, changes, context);
  }

  // The plain value of parameter `index` in a state blob: the blob starts
  // with the 14 plain values as little-endian doubles.
  static double PlainInState(const std::vector<uint8_t>& state, int index) {
    double plain = std::nan("");
    if (state.size() >= static_cast<size_t>(8 * (index + 1))) memcpy(&plain, &state[8 * index], 8);
    return plain;
  }

 private:
  static IPluginFactory* Factory() {
    // Loaded once and kept, as hosts keep a module loaded between instances.
    static host::Module* module = new host::Module;
    FUZZ_REQUIRE(module->Factory());
    return module->Factory();
  }

  // Buffers for every bus of `dir` as the plug-in describes it now; inputs
  // carry a bounded test signal.
  template <typename Sample>
  void MakeBuses(host::BusBuffers<Sample>& buses, BusDirection dir, bool fill) {
    int32 count = Component()->getBusCount(kAudio, dir);
    if (count < 0 || count > 8) count = 0;
    std::vector<int32> channels;
    for (int32 b = 0; b < count; ++b) {
      BusInfo info{};
      Component()->getBusInfo(kAudio, dir, b, info);
      channels.push_back(std::min(std::max(info.channelCount, 0), 32));
    }
    buses.Shape(channels, kBlock);
    for (size_t b = 0; fill && b < buses.samples.size(); ++b)
      for (size_t c = 0; c < buses.samples[b].size(); ++c)
        for (int32 i = 0; i < kBlock; ++i)
          buses.samples[b][c][i] = static_cast<Sample>(0.8 * std::sin(0.05 * (i + 7 * c + 13 * b)));
  }

  template <typename Sample>
  void RunBlock(int32 frames, int32 sampleSize, IParameterChanges* changes,
                ProcessContext* context) {
    host::BusBuffers<Sample> in, out;
    MakeBuses(in, kInput, true);
    MakeBuses(out, kOutput, false);
    ProcessData data = host::BlockData(kRealtime, std::min(frames, kBlock), in, out, changes, context);
    data.symbolicSampleSize = sampleSize;  // as the input says, even where it does not match
    FUZZ_REQUIRE(Processor()->process(data) == kResultOk);
    for (auto& bus : out.samples)
      for (auto& channel : bus)
        for (int32 i = 0; i < data.numSamples; ++i) FUZZ_REQUIRE(std::isfinite(channel[i]));
  }

  host::HostApplication app_{"Fuzz Host"};
  host::Plugin plugin_;
};

}  // namespace fuzz
