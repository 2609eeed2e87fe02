// The optimised signal path must give exactly the straightforward path's
// output, including after parameter changes between blocks, ragged block
// sizes, resets and hostile input values (NaN, infinities, huge and
// subnormal samples).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "EffectFingerprint.h"
#include "EffectRig.h"
#include "ReferencePath.h"
#include "SignalPath.h"
#include "NumberChecks.h"

namespace {

using kestrune_test::SameBits;

using namespace kestrune;
using kestrune_fingerprint::NoiseSource;


// Plain parameter values within each parameter's range, from noise in [-1, 1).
double RandomPlain(int index, NoiseSource& noise) {
  const double u = 0.5 * (noise.Next() + 1);
  switch (index) {
    case 0: return 80 * u;
    case 1: return -30 + 60 * u;
    case 2: return u < 0.2 ? 0 : -0.001 * u;
    case 3: return -0.02 - 0.83 * u;
    case 4: return std::floor(4 * u);
    case 5: return 20 + 480 * u;
    case 6: return 100 * u;
    case 7: return 500 + 9500 * u;
    case 8: return -6 + 12 * u;
    case 9: return -16 * u;
    default: return std::floor(2 * u);
  }
}

struct PathPair {
  ReferencePath reference;
  SignalPath optimised;
  EditorFeed referenceMeter, optimisedMeter;
  // Both paths posted the same meter reading for the block, or neither did.
  void ExpectSameReading(bool posted) {
    double reference = 0, optimised = 0;
    EXPECT_EQ(referenceMeter.Take(&reference), posted);
    EXPECT_EQ(optimisedMeter.Take(&optimised), posted);
    EXPECT_TRUE(SameBits(reference, optimised)) << reference << " vs " << optimised;
  }
};

void RunRandomSession(double sampleRate, uint32_t seed, bool hostileInput,
                      double loudLevel = 1.5) {
  NoiseSource noise(seed);
  PathPair pair;
  for (int i = 0; i <= 12; ++i) {
    const double v = RandomPlain(i, noise);
    ApplyParamChange(pair.reference.params, i, v);
    ApplyParamChange(pair.optimised.params, i, v);
  }
  BlockSettings settings;
  settings.sampleRate = sampleRate;

  std::vector<double> in[4], outRef[2], outOpt[2];
  for (int block = 0; block < 60; ++block) {
    // Between blocks: a few parameters, the switches, sometimes a reset.
    for (int n = 0; n < 3; ++n) {
      const int index = static_cast<int>(13 * 0.5 * (noise.Next() + 1)) % 13;
      const double v = RandomPlain(index, noise);
      ApplyParamChange(pair.reference.params, index, v);
      ApplyParamChange(pair.optimised.params, index, v);
    }
    settings.slam = noise.Next() > 0.3;
    settings.sidechain = noise.Next() > -0.5;
    settings.bypass = noise.Next() > 0.8;
    const bool withEditor = noise.Next() > -0.6;
    if (noise.Next() > 0.85) {
      pair.reference.Reset();
      pair.optimised.Reset();
    }

    const int frames = static_cast<int>(300 * 0.5 * (noise.Next() + 1));  // 0 .. 299
    for (auto& c : in) c.resize(static_cast<size_t>(frames));
    for (int f = 0; f < frames; ++f) {
      const double level = block % 10 < 6 ? loudLevel : 0.0;  // loud stretches, then silence
      for (auto& c : in) c[f] = level * noise.Next();
      if (hostileInput && noise.Next() > 0.97) {
        const double nasty[] = {std::nan(""), std::numeric_limits<double>::infinity(), -1e300,
                                4.9e-324, -2.2e-308, 1e30};
        in[f % 4][f] = nasty[static_cast<int>(6 * 0.5 * (noise.Next() + 1)) % 6];
      }
    }
    for (int ch = 0; ch < 2; ++ch) {
      outRef[ch].assign(static_cast<size_t>(frames), 0.0);
      outOpt[ch].assign(static_cast<size_t>(frames), 0.0);
    }
    const double* ins[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    double* refOuts[2] = {outRef[0].data(), outRef[1].data()};
    double* optOuts[2] = {outOpt[0].data(), outOpt[1].data()};

    settings.meter = withEditor ? &pair.referenceMeter : nullptr;
    pair.reference.Process(settings, ins, refOuts, frames);
    settings.meter = withEditor ? &pair.optimisedMeter : nullptr;
    pair.optimised.Process(settings, ins, optOuts, frames);

    for (int ch = 0; ch < 2; ++ch)
      for (int f = 0; f < frames; ++f)
        ASSERT_TRUE(SameBits(outRef[ch][f], outOpt[ch][f]))
            << "block " << block << " channel " << ch << " frame " << f << ": " << outRef[ch][f]
            << " vs " << outOpt[ch][f];
    ASSERT_TRUE(SameBits(pair.reference.state.gainState, pair.optimised.state.gainState));
    ASSERT_TRUE(SameBits(pair.reference.state.meterState, pair.optimised.state.meterState));
    pair.ExpectSameReading(withEditor);
    for (int k = 0; k <= 10; ++k)
      ASSERT_TRUE(SameBits(pair.reference.downRight.y[k], pair.optimised.downRight.y[k]));
  }
}

TEST(OptimisedPath, MatchesTheStraightforwardPathBitForBit) {
  for (uint32_t seed : {1u, 2u, 3u, 4u})
    for (double rate : {44100.0, 48000.0, 96000.0, 8000.0}) RunRandomSession(rate, seed, false);
}

TEST(OptimisedPath, MatchesTheStraightforwardPathOnHostileInput) {
  for (uint32_t seed : {11u, 12u}) RunRandomSession(44100, seed, true);
}

}  // namespace

// Levels around 2^-54 keep the Bessel filters at their flush threshold for
// whole blocks: values are flushed, kept, and flushed again frame after frame.
TEST(OptimisedPath, MatchesTheStraightforwardPathAtTheFlushThreshold) {
  for (double level : {2e-16, 6e-17, 1e-17}) RunRandomSession(48000, 21, false, level);
  RunRandomSession(44100, 22, true, 5e-17);
}

// The parameter gives 4 or 16; other factors set on the values directly take
// the path's general route and must still match.
TEST(OptimisedPath, MatchesTheStraightforwardPathAtOtherOversamplingFactors) {
  for (int factor : {1, 8, 24}) {
    PathPair pair;
    NoiseSource noise(31);
    for (int i = 0; i <= 12; ++i) {
      const double v = RandomPlain(i, noise);
      ApplyParamChange(pair.reference.params, i, v);
      ApplyParamChange(pair.optimised.params, i, v);
    }
    pair.reference.params.oversampling = factor;
    pair.optimised.params.oversampling = factor;
    BlockSettings settings;
    settings.sampleRate = 48000;
    std::vector<double> in[4], outRef[2], outOpt[2];
    for (int block = 0; block < 6; ++block) {
      const int frames = 100 + 37 * block;
      for (auto& c : in) {
        c.resize(static_cast<size_t>(frames));
        for (double& x : c) x = 1.2 * noise.Next();
      }
      for (int ch = 0; ch < 2; ++ch) {
        outRef[ch].assign(static_cast<size_t>(frames), 0.0);
        outOpt[ch].assign(static_cast<size_t>(frames), 0.0);
      }
      const double* ins[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
      double* refOuts[2] = {outRef[0].data(), outRef[1].data()};
      double* optOuts[2] = {outOpt[0].data(), outOpt[1].data()};
      pair.reference.Process(settings, ins, refOuts, frames);
      pair.optimised.Process(settings, ins, optOuts, frames);
      for (int ch = 0; ch < 2; ++ch)
        for (int f = 0; f < frames; ++f)
          ASSERT_TRUE(SameBits(outRef[ch][f], outOpt[ch][f]))
              << "factor " << factor << " block " << block << " channel " << ch << " frame " << f;
    }
  }
}

// Hosts may process in place: the outputs are the main inputs, which also
// feed the detector. The optimised path reads inputs ahead of the frame it
// writes, so blocks spanning several of its chunks must still see every
// input before it is overwritten.
TEST(OptimisedPath, MatchesTheStraightforwardPathWhenProcessingInPlace) {
  for (int oversampling : {4, 16}) {
    PathPair pair;
    NoiseSource noise(41);
    for (int i = 0; i <= 12; ++i) {
      const double v = RandomPlain(i, noise);
      ApplyParamChange(pair.reference.params, i, v);
      ApplyParamChange(pair.optimised.params, i, v);
    }
    ApplyParamChange(pair.reference.params, 1, 20);  // INPUT well into compression
    ApplyParamChange(pair.optimised.params, 1, 20);
    pair.reference.params.oversampling = oversampling;
    pair.optimised.params.oversampling = oversampling;
    BlockSettings settings;
    settings.sampleRate = 48000;
    settings.sidechain = 1;
    for (int block = 0; block < 4; ++block) {
      const int frames = 61 + 173 * block;  // one to several chunks, ragged ends
      std::vector<double> ref[2], opt[2], side[2];
      for (int ch = 0; ch < 2; ++ch) {
        ref[ch].resize(static_cast<size_t>(frames));
        for (double& x : ref[ch]) x = 1.5 * noise.Next();
        opt[ch] = ref[ch];
        side[ch].assign(static_cast<size_t>(frames), 0.0);
      }
      const double* refIns[4] = {ref[0].data(), ref[1].data(), side[0].data(), side[1].data()};
      const double* optIns[4] = {opt[0].data(), opt[1].data(), side[0].data(), side[1].data()};
      double* refOuts[2] = {ref[0].data(), ref[1].data()};
      double* optOuts[2] = {opt[0].data(), opt[1].data()};
      settings.meter = &pair.referenceMeter;
      pair.reference.Process(settings, refIns, refOuts, frames);
      settings.meter = &pair.optimisedMeter;
      pair.optimised.Process(settings, optIns, optOuts, frames);
      for (int ch = 0; ch < 2; ++ch)
        for (int f = 0; f < frames; ++f)
          ASSERT_TRUE(SameBits(ref[ch][f], opt[ch][f]))
              << "oversampling " << oversampling << " block " << block << " channel " << ch
              << " frame " << f;
      pair.ExpectSameReading(true);
    }
  }
}
