#include "DefaultMaterial.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace render {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeatsPerMinute = 120.0;
constexpr int kStepsPerBar = 16;  // sixteenth notes
constexpr int kBars = 4;

// Deterministic white noise in [-1, 1].
class Noise {
 public:
  double Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / static_cast<double>(1ULL << 52) - 1.0;
  }

 private:
  uint64_t state_ = 0x4B726E31u;
};

double MidiToHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Adds `voice(t)` (t in seconds since the hit) from `start` on, panned.
template <typename Voice>
void AddHit(AudioBuffer& out, double startSeconds, double lengthSeconds, double pan,
            Voice&& voice) {
  const double rate = out.sampleRate;
  const size_t first = static_cast<size_t>(startSeconds * rate);
  const size_t count = static_cast<size_t>(lengthSeconds * rate);
  const double gainLeft = std::cos((pan + 1.0) * kPi / 4.0) * std::sqrt(2.0);
  const double gainRight = std::sin((pan + 1.0) * kPi / 4.0) * std::sqrt(2.0);
  for (size_t n = 0; n < count && first + n < out.FrameCount(); ++n) {
    const double v = voice(static_cast<double>(n) / rate);
    out.channels[0][first + n] += v * gainLeft;
    out.channels[1][first + n] += v * gainRight;
  }
}

void AddKick(AudioBuffer& out, double start) {
  double phase = 0;
  const double dt = 1.0 / out.sampleRate;
  AddHit(out, start, 0.45, 0.0, [&](double t) {
    const double frequency = 48.0 + 110.0 * std::exp(-t * 28.0);
    phase += 2 * kPi * frequency * dt;
    const double click = std::exp(-t * 900.0) * 0.5;
    return 0.95 * std::exp(-t * 7.0) * std::sin(phase) + click;
  });
}

void AddSnare(AudioBuffer& out, double start, Noise& noise) {
  double previous = 0;
  AddHit(out, start, 0.3, -0.15, [&](double t) {
    const double white = noise.Next();
    const double bright = white - previous;  // first difference: tilt towards the highs
    previous = white;
    const double body = std::sin(2 * kPi * 185.0 * t) * std::exp(-t * 30.0);
    return 0.45 * bright * std::exp(-t * 16.0) + 0.35 * body;
  });
}

void AddHat(AudioBuffer& out, double start, bool open, Noise& noise) {
  double x1 = 0, x2 = 0;
  AddHit(out, start, open ? 0.35 : 0.06, 0.35, [&](double t) {
    const double white = noise.Next();
    const double high = white - 2 * x1 + x2;  // second difference: only the sizzle
    x2 = x1;
    x1 = white;
    return 0.09 * high * std::exp(-t * (open ? 9.0 : 70.0));
  });
}

// A filtered saw with a sine an octave below, one note per eighth.
void AddBassNote(AudioBuffer& out, double start, double length, int note) {
  const double frequency = MidiToHz(note);
  const double dt = 1.0 / out.sampleRate;
  double phase = 0, low = 0;
  AddHit(out, start, length, 0.0, [&](double t) {
    phase += frequency * dt;
    phase -= std::floor(phase);
    const double saw = 2.0 * phase - 1.0;
    const double cutoff = 180.0 + 1400.0 * std::exp(-t * 14.0);
    const double k = 1.0 - std::exp(-2 * kPi * cutoff * dt);
    low += k * (saw - low);
    const double sub = std::sin(2 * kPi * phase);
    const double envelope = std::min(1.0, t * 400.0) * std::min(1.0, (length - t) * 200.0);
    return envelope * (0.32 * low + 0.22 * sub);
  });
}

}  // namespace

AudioBuffer MakeDefaultMaterial() {
  AudioBuffer out;
  out.sampleRate = kDefaultMaterialRate;
  out.Resize(2, static_cast<size_t>(kDefaultMaterialSeconds * kDefaultMaterialRate));
  Noise noise;
  const double step = 60.0 / kBeatsPerMinute / 4.0;

  // One bar of drums, repeated with a fill in the last bar.
  const bool kick[kStepsPerBar] = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0};
  const bool snare[kStepsPerBar] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  for (int bar = 0; bar < kBars; ++bar) {
    for (int s = 0; s < kStepsPerBar; ++s) {
      const double t = (bar * kStepsPerBar + s) * step;
      if (kick[s]) AddKick(out, t);
      const bool fill = bar == kBars - 1 && s >= 13;
      if (snare[s] || fill) AddSnare(out, t, noise);
      if (s % 2 == 0) AddHat(out, t, s == 14 && bar % 2 == 1, noise);
    }
  }

  // Bass: E, E, C, D, eighth notes with an octave jump on the offbeats.
  const int roots[kBars] = {40, 40, 36, 38};
  for (int bar = 0; bar < kBars; ++bar) {
    for (int eighth = 0; eighth < 8; ++eighth) {
      const double t = (bar * kStepsPerBar + eighth * 2) * step;
      const int note = roots[bar] + (eighth % 4 == 3 ? 12 : 0);
      AddBassNote(out, t, step * 1.96, note);
    }
  }

  double peak = 0;
  for (const auto& channel : out.channels) {
    for (double v : channel) peak = std::max(peak, std::fabs(v));
  }
  const double gain = peak > 0 ? std::pow(10.0, -1.0 / 20.0) / peak : 1.0;
  for (auto& channel : out.channels) {
    for (double& v : channel) v *= gain;
  }
  return out;
}

}  // namespace render
