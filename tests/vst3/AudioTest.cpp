// Audio through the built VST3 module, compared bit for bit with the same
// effect driven in-process (the test binding) with identical parameters,
// sample rate, block size and sidechain connection; and the faults an
// untrusted host may commit while processing.
#include <cmath>
#include <thread>

#include "PluginTest.h"
#include "Kestrune.h"

using namespace host;

namespace {


// Four deterministic channels: main left/right, sidechain left/right.
template <typename Sample>
std::vector<std::vector<Sample>> TestSignal(int frames, uint32_t seed) {
  std::vector<std::vector<Sample>> channels(4, std::vector<Sample>(static_cast<size_t>(frames)));
  for (int c = 0; c < 4; ++c)
    for (int f = 0; f < frames; ++f) {
      seed = seed * 1664525u + 1013904223u;
      double noise = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
      channels[c][f] = static_cast<Sample>(0.6 * std::sin(0.01 * (c + 1) * f) + 0.3 * noise);
    }
  return channels;
}

// The in-process effect, set up the way the module's host calls set it up.
struct Reference {
  TestHost testHost;
  Kestrune effect{&testHost};
  Reference(double sampleRate, int blockSize) {
    effect.NotifyAllParamsChanged();
    effect.SetSampleRate(sampleRate);
    effect.ChangeBlockSize(blockSize);
    effect.ResetProcessing();
    effect.ActivationChanged(true);
  }
  void Set(int index, double normalized) {
    effect.ParamAt(index)->SetFromHostNormalized(normalized);
    effect.ParamChanged(index);
  }
  template <typename Sample>
  void Run(std::vector<Sample*> inputs, std::vector<Sample*> outputs, int frames) {
    effect.ConnectInputs(0, 2, true);
    effect.ConnectInputs(2, 2, inputs.size() == 4);
    effect.ProcessHostBlock(inputs.data(), static_cast<int>(inputs.size()), outputs.data(), 2,
                            frames);
  }
};

// One host block for the module: a main and a sidechain input bus and one
// output bus, pointing into caller-owned channel arrays.
template <typename Sample>
struct HostBlock {
  std::vector<Sample*> mainIn, sideIn, out;
  AudioBusBuffers inputs[2] = {};
  AudioBusBuffers output = {};
  ProcessData data = {};

  HostBlock(std::vector<Sample*> main, std::vector<Sample*> side, std::vector<Sample*> outs,
            int frames, IParameterChanges* changes = nullptr)
      : mainIn(std::move(main)), sideIn(std::move(side)), out(std::move(outs)) {
    Bind(inputs[0], mainIn);
    Bind(inputs[1], sideIn);
    Bind(output, out);
    data.processMode = kRealtime;
    data.symbolicSampleSize = sizeof(Sample) == 4 ? kSample32 : kSample64;
    data.numSamples = frames;
    data.numInputs = 2;
    data.numOutputs = 1;
    data.inputs = inputs;
    data.outputs = &output;
    data.inputParameterChanges = changes;
  }
  static void Bind(AudioBusBuffers& bus, std::vector<Sample*>& arrays) {
    bus.numChannels = static_cast<int32>(arrays.size());
    if constexpr (sizeof(Sample) == 4)
      bus.channelBuffers32 = arrays.empty() ? nullptr : arrays.data();
    else
      bus.channelBuffers64 = arrays.empty() ? nullptr : arrays.data();
  }
};

template <typename Sample>
std::vector<Sample*> At(std::vector<std::vector<Sample>>& channels, int first, int count,
                        int offset) {
  std::vector<Sample*> arrays;
  for (int c = first; c < first + count; ++c) arrays.push_back(channels[c].data() + offset);
  return arrays;
}

class Vst3Audio : public PluginTest {
 protected:
  Vst3Audio() : PluginTest("Bitwig Studio") {}
  uint32_t StateBypassFlag() { return plugin->State().at(112); }
  double StateValue(int index) {
    std::vector<uint8_t> state = plugin->State();
    double v = 0;
    memcpy(&v, state.data() + 8 * index, 8);
    return v;
  }
};

// Blocks of every size from 0 to beyond the block size, with automation,
// give the in-process effect's output exactly.
template <typename Sample>
void ExpectModuleMatchesReference(Plugin& plugin, HostApplication& app, int32 sampleSize) {
  const int kBlock = 256;
  const double kRate = 48000;
  plugin.Start(&app, kRate, kBlock, sampleSize);
  Reference reference(kRate, kBlock);

  const int sizes[] = {256, 1, 0, 100, 700, 33, 256, 1000};
  int total = 0;
  for (int n : sizes) total += n;
  auto in = TestSignal<Sample>(total, 7);
  std::vector<std::vector<Sample>> got(2, std::vector<Sample>(total)),
      want(2, std::vector<Sample>(total));

  int offset = 0, block = 0;
  for (int n : sizes) {
    ParamChanges changes;
    if (block == 1) changes.Add(0, {0.1, 0.55}).Add(4, {0.7}).Add(6, {0.8});
    if (block == 4) changes.Add(5, {0.3}).Add(11, {1.0}).Add(1, {0.25});
    for (ValueQueue& q : changes.queues) reference.Set(static_cast<int>(q.id), q.points.back().second);
    HostBlock<Sample> hb(At(in, 0, 2, offset), {}, At(got, 0, 2, offset), n, &changes);
    hb.data.numInputs = 1;
    ASSERT_EQ(plugin.processor->process(hb.data), kResultOk);
    reference.Run<Sample>(At(in, 0, 2, offset), At(want, 0, 2, offset), n);
    offset += n;
    ++block;
  }
  for (int c = 0; c < 2; ++c)
    EXPECT_EQ(memcmp(got[c].data(), want[c].data(), sizeof(Sample) * total), 0) << "channel " << c;
}

}  // namespace

TEST_F(Vst3Audio, SinglePrecisionMatchesTheInProcessEffectBitForBit) {
  ExpectModuleMatchesReference<float>(*plugin, hostApp, kSample32);
}

TEST_F(Vst3Audio, DoublePrecisionMatchesTheInProcessEffectBitForBit) {
  ExpectModuleMatchesReference<double>(*plugin, hostApp, kSample64);
}

TEST_F(Vst3Audio, SidechainBusActivationConnectsAndReleasesTheSidechain) {
  const int kBlock = 128, kFrames = 128;
  plugin->Start(&hostApp, 44100, kBlock);
  Reference reference(44100, kBlock);
  // External detector (0) with some drive, so the sidechain is heard.
  ParamChanges external;
  external.Add(13, {0.0}).Add(0, {0.6});
  reference.Set(13, 0.0);
  reference.Set(0, 0.6);

  auto in = TestSignal<float>(kFrames * 4, 3);
  std::vector<std::vector<float>> got(2, std::vector<float>(kFrames)),
      want(2, std::vector<float>(kFrames));
  for (int block = 0; block < 4; ++block) {
    bool sideActive = block == 1 || block == 2;
    plugin->component->activateBus(kAudio, kInput, 1, sideActive);
    int offset = block * kFrames;
    HostBlock<float> hb(At(in, 0, 2, offset), At(in, 2, 2, offset), At(got, 0, 2, 0), kFrames,
                        block == 0 ? &external : nullptr);
    ASSERT_EQ(plugin->processor->process(hb.data), kResultOk);
    reference.Run<float>(At(in, 0, sideActive ? 4 : 2, offset), At(want, 0, 2, 0), kFrames);
    for (int c = 0; c < 2; ++c)
      EXPECT_EQ(memcmp(got[c].data(), want[c].data(), sizeof(float) * kFrames), 0)
          << "block " << block << " channel " << c;
  }
}

TEST_F(Vst3Audio, OnlyTheLastBypassPointOfABlockCounts) {
  plugin->Start(&hostApp, 44100, 64);
  Reference reference(44100, 64);
  auto in = TestSignal<float>(64, 5);
  std::vector<std::vector<float>> out(2, std::vector<float>(64, 9.0f)),
      want(2, std::vector<float>(64));

  // The host's bypass is the effect's BYPASS: the reference runs it too.
  ParamChanges on;
  on.Add(kBypass, {0.2, 0.8}).Add(0, {0.9});
  reference.Set(0, 0.9);
  reference.Set(10, 1.0);
  HostBlock<float> bypassed(At(in, 0, 2, 0), {}, At(out, 0, 2, 0), 64, &on);
  ASSERT_EQ(plugin->processor->process(bypassed.data), kResultOk);
  EXPECT_EQ(StateBypassFlag(), 1u);
  EXPECT_EQ(out[0], in[0]);
  EXPECT_EQ(out[1], in[1]);
  reference.Run<float>(At(in, 0, 2, 0), At(want, 0, 2, 0), 64);

  ParamChanges off;
  off.Add(kBypass, {0.8, 0.2});
  reference.Set(10, 0.0);
  HostBlock<float> running(At(in, 0, 2, 0), {}, At(out, 0, 2, 0), 64, &off);
  ASSERT_EQ(plugin->processor->process(running.data), kResultOk);
  EXPECT_EQ(StateBypassFlag(), 0u);
  reference.Run<float>(At(in, 0, 2, 0), At(want, 0, 2, 0), 64);
  EXPECT_EQ(out, want);
}

TEST_F(Vst3Audio, ParameterOnlyBlocksApplyChangesAndIgnoreUnknownIds) {
  plugin->Start(&hostApp, 44100, 512);
  std::vector<uint8_t> before = plugin->State();

  ParamChanges unknown;
  unknown.Add(14, {0.5}).Add(9999, {0.5}).Add(0x78787878, {1.0});
  ProcessData data{};
  data.symbolicSampleSize = kSample32;
  data.inputParameterChanges = &unknown;
  EXPECT_EQ(plugin->processor->process(data), kResultOk);
  EXPECT_EQ(plugin->State(), before);

  const double midGain = StateValue(8);
  ParamChanges mix;
  mix.Add(6, {0.25}).Add(1, {std::nan(""), 2.0}).Add(8, {0.2, std::nan("")});
  data.inputParameterChanges = &mix;
  EXPECT_EQ(plugin->processor->process(data), kResultOk);
  EXPECT_EQ(StateValue(6), 25.0);
  EXPECT_EQ(StateValue(1), 30.0) << "normalized values above 1 are taken as 1";
  EXPECT_EQ(StateValue(8), midGain) << "a value that is not a number is refused, not taken as 0";

  // Choosing the first factory program (after Default) loads it over everything.
  ParamChanges preset;
  preset.Add(kPreset, {1.0 / 6});
  data.inputParameterChanges = &preset;
  EXPECT_EQ(plugin->processor->process(data), kResultOk);
  EXPECT_EQ(StateValue(0), 10.0) << "Drum Bus Glue's INPUT";
  EXPECT_EQ(StateValue(6), 100.0);
}

TEST_F(Vst3Audio, MalformedHostBuffersGiveSilenceNotCrashes) {
  const int kBlock = 64;
  plugin->Start(&hostApp, 44100, kBlock);
  Reference reference(44100, kBlock);
  auto in = TestSignal<float>(kBlock * 3, 11);
  std::vector<std::vector<float>> out(3, std::vector<float>(kBlock * 3, 7.0f)),
      want(2, std::vector<float>(kBlock * 3));

  // Main bus with one channel only; the output bus wider than arranged.
  HostBlock<float> narrow(At(in, 0, 1, 0), {}, At(out, 0, 3, 0), kBlock * 3);
  narrow.data.numInputs = 1;
  ASSERT_EQ(plugin->processor->process(narrow.data), kResultOk);
  reference.Run<float>({in[0].data(), nullptr}, At(want, 0, 2, 0), kBlock * 3);
  EXPECT_EQ(out[0], want[0]);
  EXPECT_EQ(out[1], want[1]);
  EXPECT_EQ(out[2], std::vector<float>(kBlock * 3, 0.0f)) << "an extra host channel is silenced";

  // Null arrays anywhere, no buses at all, negative counts.
  HostBlock<float> nulls({nullptr, in[1].data()}, {}, {nullptr, out[1].data()}, kBlock);
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);
  nulls.inputs[0].channelBuffers32 = nullptr;
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);
  nulls.data.inputs = nullptr;
  nulls.data.outputs = nullptr;
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);
  nulls.data.numInputs = 0;
  nulls.data.numOutputs = 0;
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);
  nulls.data.numSamples = -5;
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);
  nulls.data.symbolicSampleSize = 9;
  nulls.data.numSamples = kBlock;
  ASSERT_EQ(plugin->processor->process(nulls.data), kResultOk);

  // An output bus the host switched off gets silence in whatever it passes.
  plugin->component->activateBus(kAudio, kOutput, 0, false);
  std::fill(out[0].begin(), out[0].end(), 3.0f);
  HostBlock<float> inactive(At(in, 0, 2, 0), {}, At(out, 0, 2, 0), kBlock);
  ASSERT_EQ(plugin->processor->process(inactive.data), kResultOk);
  EXPECT_TRUE(std::all_of(out[0].begin(), out[0].begin() + kBlock, [](float s) { return s == 0; }));
}

TEST_F(Vst3Audio, ProcessingBeforeSetupIsSilentAndBadSetupsAreRefused) {
  ASSERT_EQ(plugin->component->initialize(&hostApp), kResultOk);
  plugin->component->activateBus(kAudio, kOutput, 0, true);
  auto in = TestSignal<float>(32, 1);
  std::vector<std::vector<float>> out(2, std::vector<float>(32, 5.0f));
  HostBlock<float> block(At(in, 0, 2, 0), {}, At(out, 0, 2, 0), 32);
  ASSERT_EQ(plugin->processor->process(block.data), kResultOk);
  EXPECT_EQ(out[0], std::vector<float>(32, 0.0f));

  for (ProcessSetup bad : {ProcessSetup{kRealtime, kSample32, 512, std::nan("")},
                           ProcessSetup{kRealtime, kSample32, 512, 0.0},
                           ProcessSetup{kRealtime, kSample32, 0, 44100.0},
                           ProcessSetup{kRealtime, 2, 512, 44100.0}})
    EXPECT_EQ(plugin->processor->setupProcessing(bad), kResultFalse);
}

TEST_F(Vst3Audio, ExtremeRatesOnAnotherThreadStayFiniteAndMatch) {
  for (double rate : {1000.0, 1300000.0}) {
    SCOPED_TRACE(rate);
    Plugin instance(module.Factory());
    instance.Start(&hostApp, rate, 1024);
    Reference reference(rate, 1024);
    ParamChanges drive;
    drive.Add(0, {0.8}).Add(11, {1.0});
    reference.Set(0, 0.8);
    reference.Set(11, 1.0);
    auto in = TestSignal<float>(3000, 9);
    std::vector<std::vector<float>> got(2, std::vector<float>(3000)),
        want(2, std::vector<float>(3000));
    // The audio thread is not the thread that set up processing.
    std::thread audio([&] {
      HostBlock<float> block(At(in, 0, 2, 0), {}, At(got, 0, 2, 0), 3000, &drive);
      EXPECT_EQ(instance.processor->process(block.data), kResultOk);
    });
    audio.join();
    reference.Run<float>(At(in, 0, 2, 0), At(want, 0, 2, 0), 3000);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(std::all_of(got[0].begin(), got[0].end(), [](float s) { return std::isfinite(s); }));
    instance.component->setActive(false);
    instance.component->terminate();
  }
}
