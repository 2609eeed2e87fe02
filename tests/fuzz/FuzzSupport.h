// Shared by the fuzz targets: invariant checks that libFuzzer reports as
// crashes, and what a host knows about Kestrune's parameters.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A broken promise to the host that no sanitizer would notice: printed and
// aborted, so libFuzzer saves the input that led to it.
#define FUZZ_REQUIRE(condition)                                                        \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      abort();                                                                         \
    }                                                                                  \
  } while (0)

namespace fuzz {

constexpr int kParamCount = 14;

// Parameters with steps, by index, and their step counts: RATIO, BYPASS,
// SLAM, OVERSAMPLING, Sidechain. Every other parameter is continuous.
inline int StepCount(int index) {
  switch (index) {
    case 4: return 3;
    case 10: case 11: case 12: case 13: return 1;
    default: return 0;
  }
}

// A normalized value as hosts may rely on it: inside 0..1, never NaN.
inline bool IsNormalized(double value) { return value >= 0.0 && value <= 1.0; }

// A host number brought into 0..1 (NaN to 0), for calls that need a valid one.
inline double Clamp01(double value) {
  return std::isnan(value) ? 0.0 : std::min(std::max(value, 0.0), 1.0);
}

// True when `normalized` sits on one of the parameter's steps.
inline bool OnStep(int index, double normalized, double tolerance) {
  int steps = StepCount(index);
  if (steps == 0) return true;
  double scaled = normalized * steps;
  return std::fabs(scaled - std::round(scaled)) <= tolerance * steps;
}

// The fuzz input read front to back, so seed files can be written by hand:
// numbers are little-endian, texts end at a zero byte. Reads past the end
// give zeros and empty texts.
class HostInput {
 public:
  HostInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Left() const { return size_ - position_; }

  template <typename T>
  T Take() {
    T value{};
    size_t n = std::min(sizeof value, Left());
    memcpy(&value, data_ + position_, n);
    position_ += n;
    return value;
  }
  // A number from 0 to count - 1.
  int Choice(int count) { return Take<uint8_t>() % count; }
  bool Flag() { return Take<uint8_t>() & 1; }

  // A text up to the next zero byte (consumed) or `maxBytes`.
  std::string Text(size_t maxBytes) {
    std::string text;
    while (Left() > 0 && text.size() < maxBytes) {
      char c = static_cast<char>(data_[position_++]);
      if (c == 0) break;
      text += c;
    }
    return text;
  }

  std::vector<uint8_t> Bytes(size_t count) {
    count = std::min(count, Left());
    std::vector<uint8_t> bytes(data_ + position_, data_ + position_ + count);
    position_ += count;
    return bytes;
  }
  std::vector<uint8_t> Rest() { return Bytes(Left()); }

  // A number as a host may send it, weighted toward the ones that break
  // code. One selector byte: 0 NaN, 1 +inf, 2 -inf, 3 1e300, 4 -1e300,
  // 5 2^32 + 0.5, 6 any 64-bit pattern (8 more bytes), anything else a value
  // from -0.25 to 1.25 (2 more bytes).
  double HostDouble() {
    switch (Take<uint8_t>()) {
      case 0: return std::nan("");
      case 1: return INFINITY;
      case 2: return -INFINITY;
      case 3: return 1e300;
      case 4: return -1e300;
      case 5: return 4294967296.5;
      case 6: return Take<double>();
      default: return -0.25 + 1.5 * Take<uint16_t>() / 65535.0;
    }
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// A text in a buffer of exactly its size, terminated, as hosts hand them.
inline std::vector<char> TextBuffer(const std::string& text) {
  return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

}  // namespace fuzz
