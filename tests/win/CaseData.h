// The golden audio cases as data both sides share: the Linux reference tool
// writes each case (inputs, the normalized parameter settings a host sends,
// and the Linux outputs) to a file; the Windows harness reads it back and
// drives the Windows modules with exactly those inputs and settings.
//
// File layout, little-endian: magic "KRNREF1\0"; int32 frames; int32 reset
// block (-1: none); double sample rate; int32 setting count; per setting
// int32 block, int32 parameter index, float normalized value; then 4 input
// channels and 2 output channels of `frames` doubles each.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kestrune_wine {

struct HostSetting {
  int32_t block = 0;
  int32_t index = 0;
  float normalized = 0.0f;
};

struct CaseData {
  std::string name;
  double sampleRate = 44100.0;
  int32_t frames = 0;
  int32_t resetBeforeBlock = -1;
  std::vector<HostSetting> settings;  // at most one per parameter and block, in host order
  std::vector<double> input[4];
  std::vector<double> output[2];      // empty when the case carries no reference output
};

// Host block sizes, ragged on purpose (the same cycle as the golden cases).
inline int CaseBlockSize(int block) {
  static const int sizes[] = {512, 173, 1024, 64, 1, 700};
  return sizes[block % 6];
}
constexpr int kMaxCaseBlock = 1024;

// Keeps the last value of each parameter within a block, in first-seen order,
// so every host format sends the same changes.
inline std::vector<HostSetting> OnePerParameterAndBlock(const std::vector<HostSetting>& in) {
  std::vector<HostSetting> out;
  for (const HostSetting& s : in) {
    bool merged = false;
    for (HostSetting& o : out)
      if (o.block == s.block && o.index == s.index) {
        o.normalized = s.normalized;
        merged = true;
      }
    if (!merged) out.push_back(s);
  }
  return out;
}

inline bool WriteCase(const CaseData& c, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const char magic[8] = {'K', 'R', 'N', 'R', 'E', 'F', '1', 0};
  std::fwrite(magic, 1, 8, f);
  std::fwrite(&c.frames, 4, 1, f);
  std::fwrite(&c.resetBeforeBlock, 4, 1, f);
  std::fwrite(&c.sampleRate, 8, 1, f);
  int32_t count = static_cast<int32_t>(c.settings.size());
  std::fwrite(&count, 4, 1, f);
  for (const HostSetting& s : c.settings) {
    std::fwrite(&s.block, 4, 1, f);
    std::fwrite(&s.index, 4, 1, f);
    std::fwrite(&s.normalized, 4, 1, f);
  }
  for (const auto& ch : c.input) std::fwrite(ch.data(), 8, ch.size(), f);
  for (const auto& ch : c.output) std::fwrite(ch.data(), 8, ch.size(), f);
  return std::fclose(f) == 0;
}

inline bool ReadCase(const std::string& path, CaseData* c) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char magic[8] = {};
  int32_t count = 0;
  bool ok = std::fread(magic, 1, 8, f) == 8 && std::memcmp(magic, "KRNREF1", 8) == 0 &&
            std::fread(&c->frames, 4, 1, f) == 1 && std::fread(&c->resetBeforeBlock, 4, 1, f) == 1 &&
            std::fread(&c->sampleRate, 8, 1, f) == 1 && std::fread(&count, 4, 1, f) == 1 &&
            c->frames > 0 && c->frames <= (1 << 22) && count >= 0 && count <= 10000;
  for (int32_t i = 0; ok && i < count; ++i) {
    HostSetting s;
    ok = std::fread(&s.block, 4, 1, f) == 1 && std::fread(&s.index, 4, 1, f) == 1 &&
         std::fread(&s.normalized, 4, 1, f) == 1;
    c->settings.push_back(s);
  }
  for (int ch = 0; ok && ch < 4; ++ch) {
    c->input[ch].resize(static_cast<size_t>(c->frames));
    ok = std::fread(c->input[ch].data(), 8, c->input[ch].size(), f) == c->input[ch].size();
  }
  for (int ch = 0; ok && ch < 2; ++ch) {
    c->output[ch].resize(static_cast<size_t>(c->frames));
    ok = std::fread(c->output[ch].data(), 8, c->output[ch].size(), f) == c->output[ch].size();
  }
  std::fclose(f);
  return ok;
}

// FNV-1a over the pixels of a decoded image, row by row (visible width only).
inline uint64_t PixelHash(const uint32_t* pixels, int width, int height, int rowSpan) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[static_cast<size_t>(y) * rowSpan + x];
      for (int b = 0; b < 4; ++b) {
        h ^= (p >> (8 * b)) & 0xFF;
        h *= 0x100000001B3ull;
      }
    }
  return h;
}

}  // namespace kestrune_wine
