#include "Loudness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace render {
namespace {

constexpr double kFloorLufs = -70, kTopLufs = 30, kBinsPerLu = 100;
constexpr size_t kBins = static_cast<size_t>((kTopLufs - kFloorLufs) * kBinsPerLu) + 1;
constexpr double kInf = std::numeric_limits<double>::infinity();

double Lufs(double meanSquare) { return -0.691 + 10 * std::log10(meanSquare); }
double MeanSquare(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10); }
double BinLufs(size_t bin) { return kFloorLufs + (static_cast<double>(bin) + 0.5) / kBinsPerLu; }

const std::vector<double>& BinEnergies() {
  static const std::vector<double> energies = [] {
    std::vector<double> e(kBins);
    for (size_t i = 0; i < kBins; ++i) e[i] = MeanSquare(BinLufs(i));
    return e;
  }();
  return energies;
}

double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// One second-order section, transposed direct form II.
inline double Section(const double* c, double x, double& s1, double& s2) {
  const double y = c[0] * x + s1;
  s1 = c[1] * x - c[3] * y + s2;
  s2 = c[2] * x - c[4] * y;
  return y;
}

// The largest |value| of one interpolator phase over `count` positions of
// `line`, eight positions at a time (the sums keep their order). Single
// precision: its error, a few parts in ten million, is far below what the
// true peak is shown to.
// On x86-64 a second copy for AVX2 processors is picked at load time; the
// sums are the same single-precision operations in the same order in both.
#if defined(__x86_64__) && defined(__ELF__)
#define KESTRUNE_LOUDNESS_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KESTRUNE_LOUDNESS_CLONES
#endif
KESTRUNE_LOUDNESS_CLONES double LargestInterpolated(const float* line, size_t count, const float* h) {
  constexpr int kTaps = LoudnessMeter::kTaps;
  float largest = 0;
  size_t i = 0;
  typedef float Eight __attribute__((vector_size(32)));
  for (; i + 8 <= count; i += 8) {
    Eight acc = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int j = 0; j < kTaps; ++j) {
      Eight x;
      std::memcpy(&x, line + i + static_cast<size_t>(j), sizeof x);
      acc += h[j] * x;
    }
    for (int l = 0; l < 8; ++l) largest = std::max(largest, std::fabs(acc[l]));
  }
  for (; i < count; ++i) {
    float acc = 0;
    for (int j = 0; j < kTaps; ++j) acc += h[j] * line[i + static_cast<size_t>(j)];
    largest = std::max(largest, std::fabs(acc));
  }
  return largest;
}

}  // namespace

void LoudnessMeter::Histogram::Add(double energy) {
  const double lufs = Lufs(energy);
  if (!(lufs >= kFloorLufs)) return;  // the absolute gate; silence too
  if (counts.empty()) counts.assign(kBins, 0);
  const size_t bin = std::min(kBins - 1, static_cast<size_t>((lufs - kFloorLufs) * kBinsPerLu));
  ++counts[bin];
  energySum += energy;
  ++total;
}

size_t LoudnessMeter::Histogram::GateBin(double relativeGain) const {
  const double gate = Lufs(energySum / static_cast<double>(total) * relativeGain);
  if (gate < kFloorLufs) return 0;
  return std::min(kBins - 1, static_cast<size_t>((gate - kFloorLufs) * kBinsPerLu));
}

LoudnessMeter::LoudnessMeter(int channels, double sampleRate)
    : channels_(std::max(0, channels)),
      factor_(sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1),
      windowFrames_(sampleRate >= 10 ? static_cast<size_t>(std::lround(sampleRate / 10)) : 1),
      state_(static_cast<size_t>(channels_)),
      maxMomentary_(-kInf),
      maxShortTerm_(-kInf) {
  // K-weighting: the high shelf and the high-pass of BS.1770, from their
  // analogue prototypes at this rate.
  const double rate = sampleRate > 0 ? sampleRate : 48000;
  double k = std::tan(M_PI * 1681.974450955533 / rate), q = 0.7071752369554196;
  const double vh = std::pow(10.0, 3.999843853973347 / 20), vb = std::pow(vh, 0.4996667741545416);
  double a0 = 1 + k / q + k * k;
  const double shelf[5] = {(vh + vb * k / q + k * k) / a0, 2 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                           2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
  k = std::tan(M_PI * 38.13547087602444 / rate);
  q = 0.5003270373238773;
  a0 = 1 + k / q + k * k;
  const double highPass[5] = {1, -2, 1, 2 * (k * k - 1) / a0, (1 - k / q + k * k) / a0};
  std::copy(shelf, shelf + 5, shelf_);
  std::copy(highPass, highPass + 5, highPass_);

  // The true-peak interpolator: a Kaiser-windowed sinc, each phase scaled to
  // unity gain at DC. Phase p gives the value p / factor_ of a sample after
  // tap kTaps / 2 - 1.
  const double beta = 6.0, half = kTaps / 2.0;
  for (int p = 1; p < factor_; ++p) {
    std::vector<double> taps(kTaps);
    double sum = 0, absSum = 0;
    for (int j = 0; j < kTaps; ++j) {
      const double x = half - 1 + static_cast<double>(p) / factor_ - j;
      const double r = x / half;
      const double window = BesselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / BesselI0(beta);
      taps[static_cast<size_t>(j)] = window * (x == 0 ? 1 : std::sin(M_PI * x) / (M_PI * x));
      sum += taps[static_cast<size_t>(j)];
    }
    for (double& t : taps) {
      phases_.push_back(static_cast<float>(t / sum));
      absSum += std::fabs(phases_.back());
    }
    // With room for the rounding of single-precision sums.
    boundGain_ = std::max(boundGain_, absSum * 1.0001);
  }
  for (Channel& channel : state_) channel.line.assign(kTaps - 1, 0.0f);
}

void LoudnessMeter::Add(const double* const* channels, size_t frames, bool clipAtFullScale) {
  if (!channels) return;
  for (size_t done = 0; done < frames;) {
    // Up to the next 100 ms mark, where the windows are measured.
    const size_t n = std::min({frames - done, windowFrames_ - sinceWindow_, size_t{1024}});
    AddChunk(channels, done, n, clipAtFullScale);
    done += n;
    sinceWindow_ += n;
    if (sinceWindow_ == windowFrames_) {
      sinceWindow_ = 0;
      EndOfWindow();
    }
  }
}

void LoudnessMeter::AddChunk(const double* const* channels, size_t offset, size_t n, bool clip) {
  for (size_t c = 0; c < state_.size(); ++c) {
    const double* in = channels[c] + offset;
    std::vector<float>& line = state_[c].line;
    line.resize(kTaps - 1 + n);
    float* x = line.data() + kTaps - 1;
    double largest = peak_;
    for (size_t i = 0; i < n; ++i) {
      double v = std::isfinite(in[i]) ? in[i] : 0.0;
      if (clip) v = std::clamp(v, -1.0, 1.0);
      largest = std::max(largest, std::fabs(v));  // the samples' own peak, exactly
      x[i] = static_cast<float>(v);
    }
    peak_ = largest;
  }
  // K-weighted squares, two channels at a time: their recursions interleave.
  for (size_t c = 0; c < state_.size(); c += 2) {
    Channel& a = state_[c];
    Channel& b = state_[std::min(c + 1, state_.size() - 1)];
    const bool pair = c + 1 < state_.size();
    const float* xa = a.line.data() + kTaps - 1;
    const float* xb = b.line.data() + kTaps - 1;
    double sa[4] = {a.s1, a.s2, a.h1, a.h2}, sb[4] = {b.s1, b.s2, b.h1, b.h2};
    double sumA = 0, sumB = 0;
    if (pair) {
      for (size_t i = 0; i < n; ++i) {
        const double ka = Section(highPass_, Section(shelf_, xa[i], sa[0], sa[1]), sa[2], sa[3]);
        const double kb = Section(highPass_, Section(shelf_, xb[i], sb[0], sb[1]), sb[2], sb[3]);
        sumA += ka * ka;
        sumB += kb * kb;
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        const double ka = Section(highPass_, Section(shelf_, xa[i], sa[0], sa[1]), sa[2], sa[3]);
        sumA += ka * ka;
      }
    }
    // A silent tail would otherwise leave the sections in subnormals.
    for (double& state : sa) state = std::fabs(state) < 1e-25 ? 0.0 : state;
    for (double& state : sb) state = std::fabs(state) < 1e-25 ? 0.0 : state;
    a.s1 = sa[0], a.s2 = sa[1], a.h1 = sa[2], a.h2 = sa[3];
    if (pair) b.s1 = sb[0], b.s2 = sb[1], b.h1 = sb[2], b.h2 = sb[3];
    windowSum_ += sumA + sumB;
  }
  for (Channel& channel : state_) {
    PeakOfChunk(channel, n);
    std::copy(channel.line.end() - (kTaps - 1), channel.line.end(), channel.line.begin());
  }
}

void LoudnessMeter::PeakOfChunk(Channel& channel, size_t n) {
  const float* line = channel.line.data();
  // In stretches of kStretch values, each with the samples its taps reach.
  constexpr size_t kStretch = 64;
  for (size_t start = 0; start < n; start += kStretch) {
    const size_t count = std::min(kStretch, n - start);
    float largest = 0;
    for (size_t i = start; i < start + count + kTaps - 1; ++i) largest = std::max(largest, std::fabs(line[i]));
    // Nothing between these samples can reach the peak so far: skip them.
    if (largest * boundGain_ <= peak_) continue;
    for (int p = 0; p + 1 < factor_; ++p) {
      peak_ = std::max(peak_, LargestInterpolated(line + start, count, phases_.data() + static_cast<size_t>(p) * kTaps));
    }
  }
}

void LoudnessMeter::EndOfWindow() {
  const double frames = static_cast<double>(windowFrames_);
  recent_[windows_ % recent_.size()] = windowSum_;
  windowSum_ = 0;
  ++windows_;
  double momentary = 0, shortTerm = 0;
  for (size_t i = 0; i < recent_.size(); ++i) {
    const double sum = recent_[(windows_ - 1 - i) % recent_.size()];
    if (i < 4) momentary += sum;
    shortTerm += sum;
  }
  // Before 400 ms or 3 s have passed the window holds silence before the start.
  momentary /= 4 * frames;
  shortTerm /= 30 * frames;
  if (momentary > 0) maxMomentary_ = std::max(maxMomentary_, Lufs(momentary));
  if (shortTerm > 0) maxShortTerm_ = std::max(maxShortTerm_, Lufs(shortTerm));
  if (windows_ >= 4) gated_.Add(momentary);
  if (windows_ >= recent_.size()) shortTerm_.Add(shortTerm);
}

double LoudnessMeter::IntegratedLufs() const {
  if (gated_.total == 0) return -kInf;
  const std::vector<double>& energies = BinEnergies();
  double sum = 0;
  uint64_t count = 0;
  for (size_t i = gated_.GateBin(0.1); i < kBins; ++i) {
    sum += static_cast<double>(gated_.counts[i]) * energies[i];
    count += gated_.counts[i];
  }
  return count ? Lufs(sum / static_cast<double>(count)) : -kInf;
}

double LoudnessMeter::RangeLu() const {
  if (shortTerm_.total == 0) return 0;
  const size_t first = shortTerm_.GateBin(0.01);
  uint64_t count = 0;
  for (size_t i = first; i < kBins; ++i) count += shortTerm_.counts[i];
  if (count == 0) return 0;
  // The 10th and 95th percentiles of what passes the gate: the values
  // ranked round(share * count) from the bottom, as ffmpeg ranks them.
  auto percentile = [&](double share) {
    const uint64_t rank = static_cast<uint64_t>(static_cast<double>(count) * share + 0.5);
    const uint64_t index = rank > 0 ? rank - 1 : 0;
    uint64_t seen = 0;
    for (size_t i = first; i < kBins; ++i) {
      seen += shortTerm_.counts[i];
      if (seen > index) return BinLufs(i);
    }
    return BinLufs(kBins - 1);
  };
  return percentile(0.95) - percentile(0.10);
}

double LoudnessMeter::TruePeakDb() const {
  // The values between the last samples, as if silence followed.
  double peak = peak_;
  for (const Channel& channel : state_) {
    std::vector<double> tail(channel.line.end() - (kTaps - 1), channel.line.end());
    tail.resize(2 * kTaps, 0.0);
    for (int p = 0; p + 1 < factor_; ++p) {
      const float* h = phases_.data() + static_cast<size_t>(p) * kTaps;
      for (size_t i = 0; i + kTaps <= tail.size(); ++i) {
        double sum = 0;
        for (int j = 0; j < kTaps; ++j) sum += h[j] * tail[i + static_cast<size_t>(j)];
        peak = std::max(peak, std::fabs(sum));
      }
    }
  }
  return peak > 0 ? 20.0 * std::log10(peak) : -kInf;
}

}  // namespace render
