// Audio through the built module against the same effect driven in-process
// (the test binding), with the same life cycle and parameters: the outputs
// must agree bit for bit on every path the host can take.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "Kestrune.h"
#include "ScriptedHost.h"

using namespace vst2;

namespace {

constexpr float kSampleRate = 48000.0f;

// Deterministic test signal: four distinct channels, the last two (the
// sidechain) louder and slower so a detector would notice them.
std::vector<std::vector<float>> Signal(int frames, unsigned seed) {
  std::vector<std::vector<float>> channels(4, std::vector<float>(static_cast<size_t>(frames)));
  uint32_t state = seed * 2654435761u + 1;
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < 4; ++c) {
      state = state * 1664525u + 1013904223u;
      float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
      float envelope = 0.5f + 0.45f * std::sin(0.002f * static_cast<float>(f) * (c + 1));
      channels[c][f] = (c < 2 ? 0.6f : 0.95f) * envelope * noise;
    }
  }
  return channels;
}

template <typename T>
std::vector<T*> Pointers(std::vector<std::vector<T>>& channels) {
  std::vector<T*> p;
  for (auto& c : channels) p.push_back(c.data());
  return p;
}

template <typename T>
bool SameBits(const std::vector<std::vector<T>>& a, const std::vector<std::vector<T>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t c = 0; c < a.size(); ++c)
    if (a[c].size() != b[c].size() || memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof(T)))
      return false;
  return true;
}

// The module instance and its in-process twin, driven in step.
class Twin {
 public:
  Twin(ScriptedHost& host, int blockSize) : plug(host), reference(&testHost) {
    plug.Start(kSampleRate, blockSize);
    reference.NotifyAllParamsChanged();
    reference.SetSampleRate(kSampleRate);
    reference.ResetProcessing();
    reference.ChangeBlockSize(blockSize);
    reference.ResetProcessing();
    reference.ActivationChanged(true);
  }

  void Set(int index, float normalized) {
    plug.Set(index, normalized);
    reference.ParamAt(index)->SetFromHostNormalized(normalized);
    reference.ParamChanged(index);
  }

  // A musically busy setting: heavy drive, fast timing, sidechain equaliser.
  void Configure(float sidechain) {
    Set(kestrune::kInput, 0.8f);
    Set(kestrune::kOutput, 0.6f);
    Set(kestrune::kAttack, 0.3f);
    Set(kestrune::kRelease, 0.2f);
    Set(kestrune::kRatio, 0.7f);
    Set(kestrune::kHpf, 0.4f);
    Set(kestrune::kMix, 0.8f);
    Set(kestrune::kMidGain, 0.9f);
    Set(kestrune::kHf, 0.3f);
    Set(kestrune::kSidechain, sidechain);
  }

  // Runs `frames` of `input` through both, with the host passing
  // `hostInputs` input arrays (the rest of the twin's inputs read zeros when
  // `silenceSidechain`).
  void Float(const std::vector<std::vector<float>>& input, bool accumulate = false,
             size_t hostInputs = 4, bool silenceSidechain = false) {
    int frames = static_cast<int>(input[0].size());
    std::vector<std::vector<float>> in = input;
    // The host may hand fewer arrays than declared; an exactly sized copy
    // lets the sanitizer build see any read past them.
    std::vector<float*> all = Pointers(in);
    std::vector<float*> hostIn(all.begin(), all.begin() + static_cast<long>(hostInputs));
    std::vector<float*> moduleOut = Pointers(moduleOutput);
    (accumulate ? plug.effect->process : plug.effect->processReplacing)(
        plug.effect, hostIn.data(), moduleOut.data(), frames);

    std::vector<std::vector<float>> refIn = input;
    if (silenceSidechain)
      for (size_t c = 2; c < refIn.size(); ++c) std::fill(refIn[c].begin(), refIn[c].end(), 0.0f);
    std::vector<float*> refInPtrs = Pointers(refIn);
    std::vector<float*> refOut = Pointers(referenceOutput);
    reference.ProcessHostBlock(refInPtrs.data(), 4, refOut.data(), 2, frames, accumulate);
  }

  void Double(const std::vector<std::vector<float>>& input) {
    int frames = static_cast<int>(input[0].size());
    std::vector<std::vector<double>> in(4);
    for (int c = 0; c < 4; ++c) in[c].assign(input[c].begin(), input[c].end());
    std::vector<std::vector<double>> moduleOut(2, std::vector<double>(frames, 0.0));
    std::vector<std::vector<double>> refOut = moduleOut;
    std::vector<double*> inPtrs = Pointers(in), mo = Pointers(moduleOut), ro = Pointers(refOut);
    plug.effect->processDoubleReplacing(plug.effect, inPtrs.data(), mo.data(), frames);
    reference.ProcessHostBlock(inPtrs.data(), 4, ro.data(), 2, frames);
    doubleMatches = SameBits(moduleOut, refOut);
  }

  void ClearOutputs(int frames, float fill = 0.0f) {
    moduleOutput.assign(2, std::vector<float>(static_cast<size_t>(frames), fill));
    referenceOutput = moduleOutput;
  }

  bool Matches() const { return SameBits(moduleOutput, referenceOutput); }

  TestHost testHost;
  PluginInstance plug;
  Kestrune reference;
  std::vector<std::vector<float>> moduleOutput, referenceOutput;
  bool doubleMatches = false;
};

}  // namespace

TEST(Vst2Audio, FloatBlocksOfEveryLengthMatchTheInProcessEffect) {
  for (float sidechain : {0.0f, 1.0f}) {
    ScriptedHost host;
    Twin twin(host, 512);
    twin.Configure(sidechain);
    unsigned seed = 1;
    // Short, odd, full and longer-than-block-size host blocks.
    for (int frames : {512, 1, 37, 511, 512, 1300, 4096}) {
      twin.ClearOutputs(frames);
      twin.Float(Signal(frames, seed++));
      EXPECT_TRUE(twin.Matches()) << frames << " frames, sidechain " << sidechain;
    }
    // A parameter change between blocks reaches both alike.
    twin.Set(kestrune::kSlam, 1.0f);
    twin.ClearOutputs(700);
    twin.Float(Signal(700, seed++));
    EXPECT_TRUE(twin.Matches()) << "after SLAM on";
  }
}

TEST(Vst2Audio, DoubleBlocksMatchTheInProcessEffect) {
  ScriptedHost host;
  Twin twin(host, 256);
  twin.Configure(1.0f);
  unsigned seed = 7;
  for (int frames : {256, 3, 255, 1000}) {
    twin.Double(Signal(frames, seed++));
    EXPECT_TRUE(twin.doubleMatches) << frames << " frames";
  }
}

TEST(Vst2Audio, AccumulatingProcessAddsToWhatIsInTheOutputs) {
  ScriptedHost host;
  Twin twin(host, 512);
  twin.Configure(0.0f);
  // Two blocks into the same buffers, which start with something in them.
  twin.ClearOutputs(400, 0.25f);
  twin.Float(Signal(400, 3), true);
  twin.Float(Signal(400, 4), true);
  EXPECT_TRUE(twin.Matches());

  // And the sum really is the two replacing outputs added.
  ScriptedHost host2;
  Twin replacing(host2, 512);
  replacing.Configure(0.0f);
  replacing.ClearOutputs(400);
  replacing.Float(Signal(400, 3));
  std::vector<std::vector<float>> first = replacing.moduleOutput;
  replacing.ClearOutputs(400);
  replacing.Float(Signal(400, 4));
  for (int c = 0; c < 2; ++c)
    for (int f = 0; f < 400; ++f)
      ASSERT_EQ(twin.moduleOutput[c][f], (0.25f + first[c][f]) + replacing.moduleOutput[c][f])
          << "channel " << c << " frame " << f;
}

TEST(Vst2Audio, TwoChannelInputArrangementSilencesTheSidechain) {
  ScriptedHost host;
  Twin twin(host, 512);
  twin.Configure(1.0f);
  VstSpeakerArrangement stereo{};
  stereo.type = kSpeakerArrStereo;
  stereo.numChannels = 2;
  ASSERT_EQ(twin.plug.Dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&stereo),
                               nullptr),
            1);
  // The host now hands over an array of just two input pointers.
  for (int frames : {512, 900}) {
    twin.ClearOutputs(frames);
    twin.Float(Signal(frames, 11), false, 2, true);
    EXPECT_TRUE(twin.Matches()) << frames << " frames";
  }
  // Four channels again: the sidechain is heard again.
  stereo.numChannels = 4;
  twin.plug.Dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&stereo), nullptr);
  twin.ClearOutputs(512);
  twin.Float(Signal(512, 12));
  EXPECT_TRUE(twin.Matches());
}

TEST(Vst2Audio, StereoOnlyHostLosesTheSidechainAtOpen) {
  ScriptedHost host;
  host.product = "Adobe Audition";
  Twin twin(host, 512);
  twin.Configure(1.0f);
  EXPECT_EQ(twin.plug.effect->numInputs, 4);
  twin.ClearOutputs(512);
  twin.Float(Signal(512, 21), false, 4, true);
  EXPECT_TRUE(twin.Matches());
}

TEST(Vst2Audio, BypassOpcodeChangesNothingAndEmptyBlocksTouchNothing) {
  ScriptedHost host;
  Twin twin(host, 128);
  twin.Configure(0.0f);
  EXPECT_EQ(twin.plug.Dispatch(effSetBypass, 0, 1), 0);
  twin.ClearOutputs(300);
  twin.Float(Signal(300, 31));
  EXPECT_TRUE(twin.Matches());

  std::vector<std::vector<float>> in = Signal(16, 32);
  std::vector<float*> inPtrs = Pointers(in);
  std::vector<std::vector<float>> out(2, std::vector<float>(16, 9.0f));
  std::vector<float*> outPtrs = Pointers(out);
  twin.plug.effect->processReplacing(twin.plug.effect, inPtrs.data(), outPtrs.data(), 0);
  twin.plug.effect->processReplacing(twin.plug.effect, inPtrs.data(), outPtrs.data(), -5);
  EXPECT_EQ(out[0][0], 9.0f);
  EXPECT_EQ(out[1][15], 9.0f);
}

TEST(Vst2Audio, BlockSizesFromTheHostThatCannotBeUsedAreIgnored) {
  ScriptedHost host;
  Twin twin(host, 64);
  // Zero and negative sizes keep 64; the effect still processes normally.
  twin.plug.Dispatch(effSetBlockSize, 0, 0);
  twin.plug.Dispatch(effSetBlockSize, 0, -100);
  twin.plug.Dispatch(effSetSampleRate, 0, 0, nullptr, 0.0f);
  twin.plug.Dispatch(effSetSampleRate, 0, 0, nullptr, std::nanf(""));
  twin.ClearOutputs(200);
  twin.Float(Signal(200, 41));
  EXPECT_TRUE(twin.Matches());
}
