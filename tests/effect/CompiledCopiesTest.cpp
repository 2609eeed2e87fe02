// The signal path's loop exists as a baseline x86-64 copy and, where the
// build has it, an AVX2 copy picked by the processor's features. On a
// machine with AVX2 the ordinary tests only see the AVX2 copy, so these run
// every golden case and the straightforward comparison on each copy selected.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "EffectFingerprint.h"
#include "EffectRig.h"
#include "ReferencePath.h"
#include "SignalPath.h"

namespace {

using namespace kestrune;

bool ProcessorHasAvx2() {
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

TEST(CompiledCopies, SelectingACopyRunsItWhereTheProcessorCanRunIt) {
  SignalPath path;
  path.SelectCode(PathCode::Baseline);
  EXPECT_EQ(path.CodeInUse(), PathCode::Baseline);
  path.SelectCode(PathCode::Avx2);
  EXPECT_EQ(path.CodeInUse(), ProcessorHasAvx2() ? PathCode::Avx2 : PathCode::Baseline);
  SignalPath other;  // one instance's choice leaves the others alone
  EXPECT_EQ(other.CodeInUse(), ProcessorHasAvx2() ? PathCode::Avx2 : PathCode::Baseline);
}

TEST(CompiledCopies, EachCopyReproducesEveryGoldenCase) {
  for (PathCode code : {PathCode::Baseline, PathCode::Avx2}) {
    for (const auto& c : kestrune_fingerprint::FingerprintCases()) {
      const kestrune_test::CaseResult result = kestrune_test::RunFingerprintCase(c, code);
      const kestrune_fingerprint::GoldenHashes* golden = kestrune_fingerprint::FindGolden(c.name);
      ASSERT_NE(golden, nullptr) << c.name;
      EXPECT_EQ(result.output, golden->output) << c.name << " code " << static_cast<int>(code);
      EXPECT_EQ(result.meter, golden->meter) << c.name << " code " << static_cast<int>(code);
    }
  }
}

// Sets both paths to the same thirteen plain values (and factor, if given).
void SetBoth(ReferencePath& reference, SignalPath& optimised, const double (&plain)[13],
             int oversampling = 0) {
  for (int i = 0; i < 13; ++i) {
    ApplyParamChange(reference.params, i, plain[i]);
    ApplyParamChange(optimised.params, i, plain[i]);
  }
  if (oversampling > 0) reference.params.oversampling = optimised.params.oversampling = oversampling;
}

// Runs one block through both paths; outputs and all four Bessel histories
// must then be equal bit for bit. `where` names the case in failures.
void ExpectSameBlock(ReferencePath& reference, SignalPath& optimised,
                     const BlockSettings& settings, std::vector<double> (&in)[4], int frames,
                     const std::string& where) {
  std::vector<double> outRef[2], outOpt[2];
  for (int ch = 0; ch < 2; ++ch) {
    outRef[ch].assign(static_cast<size_t>(frames), 0.0);
    outOpt[ch].assign(static_cast<size_t>(frames), 0.0);
  }
  const double* ins[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
  double* refOuts[2] = {outRef[0].data(), outRef[1].data()};
  double* optOuts[2] = {outOpt[0].data(), outOpt[1].data()};
  reference.Process(settings, ins, refOuts, frames);
  optimised.Process(settings, ins, optOuts, frames);
  for (int ch = 0; ch < 2; ++ch)
    ASSERT_EQ(0, std::memcmp(outRef[ch].data(), outOpt[ch].data(),
                             sizeof(double) * static_cast<size_t>(frames)))
        << where << " channel " << ch;
  const BesselHistory* histories[2][4] = {
      {&reference.upLeft, &reference.upRight, &reference.downLeft, &reference.downRight},
      {&optimised.upLeft, &optimised.upRight, &optimised.downLeft, &optimised.downRight}};
  for (int h = 0; h < 4; ++h)
    ASSERT_EQ(0, std::memcmp(histories[0][h]->y, histories[1][h]->y, sizeof(double) * 11))
        << where << " history " << h;
}

std::string CaseName(PathCode code, int oversampling, int block) {
  return "code " + std::to_string(static_cast<int>(code)) + " oversampling " +
         std::to_string(oversampling) + " block " + std::to_string(block);
}

// Loud noise with NaN, infinities and subnormals, then levels around the
// Bessel flush threshold and silence: both copies against the straightforward
// path. At factor 1 an infinite sum is a frame's last, where the check for
// speculative filter steps must still see it.
TEST(CompiledCopies, EachCopyMatchesTheStraightforwardPathOnHostileAndTinyInput) {
  for (PathCode code : {PathCode::Baseline, PathCode::Avx2}) {
    for (int oversampling : {4, 16, 8, 1}) {
      ReferencePath reference;
      SignalPath optimised;
      optimised.SelectCode(code);
      kestrune_fingerprint::NoiseSource noise(51);
      const double plain[13] = {30, 2, -0.0005, -0.2, 1, 80, 100, 2000, 3, -6, 0, 1, 0};
      SetBoth(reference, optimised, plain, oversampling);
      BlockSettings settings;
      settings.sampleRate = 48000;
      const double levels[] = {1.5, 2e-16, 6e-17, 0, 1.5, 1e-17, 0};
      for (int block = 0; block < 7; ++block) {
        const int frames = 200 + 61 * block;
        std::vector<double> in[4];
        for (auto& c : in) {
          c.resize(static_cast<size_t>(frames));
          for (double& x : c) x = levels[block] * noise.Next();
        }
        if (block == 0) {
          in[0][17] = std::nan("");
          in[1][40] = -1e300;
          in[2][90] = 4.9e-324;
          in[0][150] = 1e30;
          in[0][120] = std::numeric_limits<double>::infinity();
        }
        settings.slam = block % 2;
        ExpectSameBlock(reference, optimised, settings, in, frames,
                        CaseName(code, oversampling, block));
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Blocks of one frame and a few frames, and odd factors: where the copies'
// filter tapes start and end a block (the AVX2 copy keeps both filters on one
// tape, with the up-sampling filter a frame ahead) and where a factor leaves
// a single sub-frame over for the curve. Outputs and all four Bessel
// histories must equal the straightforward path's after every block.
TEST(CompiledCopies, EachCopyMatchesTheStraightforwardPathInShortBlocksAndOddFactors) {
  for (PathCode code : {PathCode::Baseline, PathCode::Avx2}) {
    for (int oversampling : {1, 3, 5, 4, 16}) {
      ReferencePath reference;
      SignalPath optimised;
      optimised.SelectCode(code);
      kestrune_fingerprint::NoiseSource noise(7);
      const double plain[13] = {24, 0, -0.001, -0.1, 2, 60, 70, 800, -2, 3, 0, 0, 0};
      SetBoth(reference, optimised, plain, oversampling);
      BlockSettings settings;
      settings.sampleRate = 44100;
      const int lengths[] = {1, 2, 3, 1, 64, 1, 7, 300, 1};
      int block = 0;
      for (int frames : lengths) {
        std::vector<double> in[4];
        for (auto& c : in) {
          c.resize(static_cast<size_t>(frames));
          for (double& x : c) x = 0.8 * noise.Next();
        }
        settings.slam = block % 2;
        ExpectSameBlock(reference, optimised, settings, in, frames,
                        CaseName(code, oversampling, block));
        if (HasFatalFailure()) return;
        ++block;
      }
    }
  }
}

// The AVX2 copy finishes outputs, detector and level four frames at a time,
// with the frames a block leaves over done one by one: in blocks that split
// the groups of four and the chunks differently, with SLAM on and off, either
// sidechain source and bypass, against the straightforward path. Tiny,
// subnormal and signed-zero sidechain values come first; the last blocks
// put NaN into one sidechain channel and, later, an infinity into the other
// (each stays in its channel's filters from then on), so that for a while
// the stereo link compares a NaN with a number.
TEST(CompiledCopies, EachCopyMatchesTheStraightforwardPathOnHostileSidechainsInGroupsOfFour) {
  for (PathCode code : {PathCode::Baseline, PathCode::Avx2}) {
    ReferencePath reference;
    SignalPath optimised;
    optimised.SelectCode(code);
    kestrune_fingerprint::NoiseSource noise(93);
    const double plain[13] = {28, 1, -0.0002, -0.0005, 3, 40, 60, 1200, 4, -3, 0, 0, 0};
    SetBoth(reference, optimised, plain);
    BlockSettings settings;
    settings.sampleRate = 48000;
    const int lengths[] = {70, 5, 131, 64, 3, 257, 66, 259, 130};
    const double tiny[] = {-4.9e-324, 2.5e-310, 0.0, -0.0, 1e-30};
    int block = 0;
    for (int frames : lengths) {
      std::vector<double> in[4];
      for (auto& c : in) {
        c.resize(static_cast<size_t>(frames));
        for (double& x : c) x = 0.9 * noise.Next();
      }
      for (int k = 0; k < 5; ++k)
        in[2 + k % 2][static_cast<size_t>((k * 37 + block * 11) % frames)] = tiny[k];
      settings.slam = block < 7 ? (block / 2) % 2 : block - 7;
      settings.sidechain = block % 2;
      settings.bypass = block == 4;
      if (block == 7) {  // sidechain from the main inputs
        in[0][10] = std::nan("");
        in[1][200] = -std::numeric_limits<double>::infinity();
        in[0][201] = 1e300;
      }
      ExpectSameBlock(reference, optimised, settings, in, frames, CaseName(code, 4, block));
      if (HasFatalFailure()) return;
      ++block;
    }
  }
}

}  // namespace
