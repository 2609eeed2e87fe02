#include "Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {
namespace {
ebur128_state* State(void* state) { return static_cast<ebur128_state*>(state); }
}  // namespace

LoudnessMeter::LoudnessMeter(int channels, double sampleRate)
    : channels_(channels),
      windowFrames_(std::max<size_t>(1, static_cast<size_t>(sampleRate / 10))),  // 100 ms, as meters update
      maxMomentary_(-std::numeric_limits<double>::infinity()),
      maxShortTerm_(-std::numeric_limits<double>::infinity()) {
  state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(std::lround(sampleRate)),
                        EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM |
                            EBUR128_MODE_S);
  // Mono counts once (no dual-mono gain), as ffmpeg's ebur128 filter counts it.
}

LoudnessMeter::~LoudnessMeter() {
  if (state_) {
    ebur128_state* state = State(state_);
    ebur128_destroy(&state);
  }
}

void LoudnessMeter::Add(const double* const* channels, size_t frames, bool clipAtFullScale) {
  if (!state_) return;
  const size_t count = static_cast<size_t>(channels_);
  for (size_t done = 0; done < frames;) {
    // Up to the next 100 ms mark, where the momentary and short-term
    // loudness are read.
    const size_t n = std::min(frames - done, windowFrames_ - sinceWindow_);
    interleaved_.resize(n * count);
    for (size_t i = 0; i < n; ++i) {
      for (size_t c = 0; c < count; ++c) {
        double x = channels[c][done + i];
        if (!std::isfinite(x)) x = 0;
        interleaved_[i * count + c] = clipAtFullScale ? std::clamp(x, -1.0, 1.0) : x;
      }
    }
    ebur128_add_frames_double(State(state_), interleaved_.data(), n);
    done += n;
    sinceWindow_ += n;
    if (sinceWindow_ == windowFrames_) {
      sinceWindow_ = 0;
      double value = 0;
      if (ebur128_loudness_momentary(State(state_), &value) == EBUR128_SUCCESS && std::isfinite(value)) {
        maxMomentary_ = std::max(maxMomentary_, value);
      }
      if (ebur128_loudness_shortterm(State(state_), &value) == EBUR128_SUCCESS && std::isfinite(value)) {
        maxShortTerm_ = std::max(maxShortTerm_, value);
      }
    }
  }
}

double LoudnessMeter::IntegratedLufs() const {
  double value = -std::numeric_limits<double>::infinity();
  if (state_) ebur128_loudness_global(State(state_), &value);
  return value;
}

double LoudnessMeter::RangeLu() const {
  double value = 0;
  if (state_) ebur128_loudness_range(State(state_), &value);
  return value;
}

double LoudnessMeter::TruePeakDb() const {
  double peak = 0;
  for (unsigned c = 0; state_ && c < static_cast<unsigned>(channels_); ++c) {
    double value = 0;
    if (ebur128_true_peak(State(state_), c, &value) == EBUR128_SUCCESS) peak = std::max(peak, value);
  }
  return peak > 0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

}  // namespace render
