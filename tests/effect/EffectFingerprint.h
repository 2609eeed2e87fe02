// Reference signals, parameter scripts and output hashing for the effect's
// golden fingerprints. Header-only so the format harnesses can drive a built
// module with the same cases and compare against the same hashes.
//
// A case is: a sample rate, a signal (four input channels: main left/right,
// sidechain left/right), a list of parameter settings (plain values) applied
// before given host blocks, and a cycle of host block sizes. The expected
// hashes cover every output double of both channels, and separately the
// meter reading the effect posts for its editor after each host block while
// an editor is attached.
// The hashes were taken on Linux x86-64 (glibc exp, log, pow, tan, sin).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrune_fingerprint {

// FNV-1a over the bytes of each double: any changed bit changes the hash.
class Hash64 {
 public:
  void Add(double value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    for (unsigned char b : bytes) {
      state_ ^= b;
      state_ *= 0x100000001B3ull;
    }
  }
  uint64_t Value() const { return state_; }

 private:
  uint64_t state_ = 0xCBF29CE484222325ull;
};

// Deterministic noise in [-1, 1), the same on every platform.
class NoiseSource {
 public:
  explicit NoiseSource(uint32_t seed) : state_(seed) {}
  double Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  uint32_t state_;
};

enum SignalKind {
  kSineBurst,          // 440/660 Hz sine bursts with silent gaps
  kDrumWithSidechain,  // decaying noisy hits; the sidechain carries a different beat
  kLoudThenSilence,    // a loud stretch, then a long silence
};

struct Signal {
  int frames = 0;
  std::vector<double> channel[4];  // main L, main R, sidechain L, sidechain R
};

inline Signal MakeSignal(SignalKind kind, double sampleRate, int frames) {
  const double twoPi = 6.283185307179586;
  Signal s;
  s.frames = frames;
  for (auto& c : s.channel) c.assign(static_cast<size_t>(frames), 0.0);
  NoiseSource noise(12345);
  for (int f = 0; f < frames; ++f) {
    const double t = f / sampleRate;
    double l = 0, r = 0, sl = 0, sr = 0;
    switch (kind) {
      case kSineBurst: {
        const double phase = std::fmod(t, 0.05);  // 30 ms on, 20 ms off
        const double env = phase < 0.03 ? 0.9 : 0.0;
        l = env * std::sin(twoPi * 440 * t);
        r = env * 0.7 * std::sin(twoPi * 660 * t);
        sl = 0.2 * std::sin(twoPi * 100 * t);
        sr = sl;
        break;
      }
      case kDrumWithSidechain: {
        const double hit = std::fmod(t, 0.0625);  // a hit every 62.5 ms
        const double env = std::exp(-hit * 60);
        const double n = noise.Next();
        l = env * (0.8 * std::sin(twoPi * 80 * hit) + 0.3 * n);
        r = env * (0.7 * std::sin(twoPi * 85 * hit) - 0.25 * n);
        const double keyHit = std::fmod(t + 0.02, 0.125);
        const double keyEnv = 1.5 * std::exp(-keyHit * 25);
        sl = keyEnv * std::sin(twoPi * 150 * t);
        sr = keyEnv * std::sin(twoPi * 155 * t);
        break;
      }
      case kLoudThenSilence: {
        if (f < frames / 4) {
          l = 1.8 * std::sin(twoPi * 1000 * t) + 0.2 * noise.Next();
          r = 1.6 * std::sin(twoPi * 3000 * t) - 0.2 * noise.Next();
          sl = l;
          sr = r;
        }
        break;
      }
    }
    s.channel[0][f] = l;
    s.channel[1][f] = r;
    s.channel[2][f] = sl;
    s.channel[3][f] = sr;
  }
  return s;
}

// Parameter indices as the host sees them.
enum Param {
  kInput = 0, kOutput, kAttack, kRelease, kRatio, kHpf, kMix, kMidFreq, kMidGain, kHf,
  kBypass, kSlam, kOversampling, kSidechain,
};

struct ParamSetting {
  int beforeBlock;  // applied before this host block (0 = before any audio)
  int index;
  double plain;
};

struct FingerprintCase {
  const char* name;
  double sampleRate;
  SignalKind signal;
  int frames;
  std::vector<ParamSetting> settings;
  int resetBeforeBlock;  // the processing is reset before this host block; -1: never
};

// Expected hashes per case name.
struct GoldenHashes {
  const char* name;
  uint64_t output;
  uint64_t meter;
};

inline const GoldenHashes* FindGolden(const char* name) {
  static const GoldenHashes table[] = {
      {"bypass_44k_16x", 0xBB1957FBC0E5DDFEull, 0xB642A8A025EA36B0ull},
      {"drum_44k_16x_external", 0x0F26E4D77C4CBFFCull, 0x3626E0466F5CA265ull},
      {"drum_44k_16x_internal", 0xB764C2D8D5A3438Dull, 0xB642A8A025EA36B0ull},
      {"drum_44k_16x_slam_external", 0xAF4FAFD884E552B4ull, 0x4108B3DCD8D59350ull},
      {"drum_44k_16x_slam_internal", 0x63485D0D47872575ull, 0x474CEF1C96145064ull},
      {"drum_44k_4x_external", 0x4E57CF999B211AC5ull, 0x3626E0466F5CA265ull},
      {"drum_44k_4x_internal", 0xB39BCF1CAF6BD237ull, 0xB642A8A025EA36B0ull},
      {"drum_44k_4x_slam_external", 0xDB0ABF255ACA9E44ull, 0x4108B3DCD8D59350ull},
      {"drum_44k_4x_slam_internal", 0x1DCDECE12FC8C9AAull, 0x474CEF1C96145064ull},
      {"drum_96k_16x_external", 0xAA414BC593877568ull, 0xBC5FB2137B6B256Aull},
      {"drum_96k_16x_internal", 0x186FD66434380133ull, 0xEA3335AD92517A62ull},
      {"drum_96k_16x_slam_external", 0x83B367C81163003Dull, 0x3AECADD372FCA983ull},
      {"drum_96k_16x_slam_internal", 0x5358EE8EE1FC3337ull, 0x0D428215E748E9F1ull},
      {"drum_96k_4x_external", 0x10DA80AE37D84B18ull, 0xBC5FB2137B6B256Aull},
      {"drum_96k_4x_internal", 0x37536C385A812230ull, 0xEA3335AD92517A62ull},
      {"drum_96k_4x_slam_external", 0x0226C79A06B0329Cull, 0x3AECADD372FCA983ull},
      {"drum_96k_4x_slam_internal", 0x4AFD6A3D343C5143ull, 0x0D428215E748E9F1ull},
      {"loud_then_silence_44k_4x", 0x1C8A1679E0C2E101ull, 0x50EBFA1D6712004Full},
      {"loud_then_silence_96k_16x_slam", 0xD3F29500923C27E7ull, 0x8A69CDF2D6966B25ull},
      {"mix_50_44k_4x", 0x3C37214C0A51E304ull, 0xB642A8A025EA36B0ull},
      {"parameter_changes_44k", 0x7D4F91606042EE99ull, 0x378DFEC591BC1132ull},
      {"sine_burst_44k_4x", 0xD00523445D1654A3ull, 0xA8CBD91CD98FD5E4ull},
      {"sine_burst_96k_16x_slam", 0xB2D29F5093CFD6F7ull, 0x578BE6792F0392BEull},
  };
  for (const GoldenHashes& g : table)
    if (std::strcmp(g.name, name) == 0) return &g;
  return nullptr;
}

// Host block sizes cycled through, ragged on purpose.
inline int HostBlockSize(int block) {
  static const int sizes[] = {512, 173, 1024, 64, 1, 700};
  return sizes[block % 6];
}

// Settings every case starts from (before block 0), on top of the defaults.
inline std::vector<ParamSetting> BaseSettings(int oversampling, int slam, int sidechain) {
  return {
      {0, kInput, 30},     {0, kOutput, 2},   {0, kAttack, -0.0005}, {0, kRelease, -0.2},
      {0, kRatio, 1},      {0, kHpf, 80},     {0, kMix, 100},        {0, kMidFreq, 2000},
      {0, kMidGain, 3},    {0, kHf, -6},      {0, kBypass, 0},       {0, kSlam, double(slam)},
      {0, kOversampling, double(oversampling == 16 ? 1 : 0)},       {0, kSidechain, double(sidechain)},
  };
}

inline std::vector<ParamSetting> With(std::vector<ParamSetting> base,
                                      std::initializer_list<ParamSetting> more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

inline std::vector<FingerprintCase> FingerprintCases() {
  std::vector<FingerprintCase> cases;
  // The matrix: rates x oversampling x SLAM x sidechain source, on the drum
  // signal whose sidechain input differs from the main input.
  static const char* names[16] = {
      "drum_44k_4x_internal",       "drum_44k_4x_external",      "drum_44k_4x_slam_internal",
      "drum_44k_4x_slam_external",  "drum_44k_16x_internal",     "drum_44k_16x_external",
      "drum_44k_16x_slam_internal", "drum_44k_16x_slam_external", "drum_96k_4x_internal",
      "drum_96k_4x_external",       "drum_96k_4x_slam_internal", "drum_96k_4x_slam_external",
      "drum_96k_16x_internal",      "drum_96k_16x_external",     "drum_96k_16x_slam_internal",
      "drum_96k_16x_slam_external"};
  int n = 0;
  for (double rate : {44100.0, 96000.0})
    for (int over : {4, 16})
      for (int slam : {0, 1})
        for (int sidechain : {1, 0}) {
          cases.push_back({names[n], rate, kDrumWithSidechain, 6000,
                           BaseSettings(over, slam, sidechain), -1});
          ++n;
        }

  cases.push_back({"sine_burst_44k_4x", 44100, kSineBurst, 6000, BaseSettings(4, 0, 1), -1});
  cases.push_back({"sine_burst_96k_16x_slam", 96000, kSineBurst, 6000, BaseSettings(16, 1, 1), -1});
  cases.push_back({"loud_then_silence_44k_4x", 44100, kLoudThenSilence, 24000,
                   With(BaseSettings(4, 0, 1), {{0, kInput, 60}}), -1});
  cases.push_back({"loud_then_silence_96k_16x_slam", 96000, kLoudThenSilence, 24000,
                   With(BaseSettings(16, 1, 1), {{0, kInput, 60}}), -1});
  cases.push_back({"mix_50_44k_4x", 44100, kDrumWithSidechain, 6000,
                   With(BaseSettings(4, 0, 1), {{0, kMix, 50}}), -1});
  cases.push_back({"bypass_44k_16x", 44100, kDrumWithSidechain, 6000,
                   With(BaseSettings(16, 0, 1), {{0, kBypass, 1}}), -1});
  // Every parameter moves between blocks, including the oversampling factor
  // (filters redesigned, histories kept) and a reset of the Bessel filters.
  cases.push_back({"parameter_changes_44k", 44100, kDrumWithSidechain, 9000,
                   With(BaseSettings(4, 0, 1),
                        {{2, kInput, 55},      {2, kAttack, 0},      {3, kRatio, 3},
                         {3, kOversampling, 1}, {4, kHpf, 400},      {4, kMidFreq, 9000},
                         {5, kMidGain, -6},    {5, kHf, -16},        {6, kSlam, 1},
                         {7, kRelease, -0.02}, {7, kOutput, -12},    {8, kSidechain, 0},
                         {9, kOversampling, 0}, {9, kMix, 70},       {10, kInput, 0},
                         {11, kInput, 20},     {11, kAttack, -0.001}, {12, kBypass, 1},
                         {13, kBypass, 0},     {13, kSlam, 0},       {14, kRatio, 2}}),
                   10});
  return cases;
}

}  // namespace kestrune_fingerprint
