// Loudness of a stream per EBU R 128 / ITU-R BS.1770 as the audio passes:
// integrated loudness, loudness range (EBU Tech 3342, short-term loudness
// every 100 ms as ffmpeg's ebur128 filter takes it) and true peak (4x
// oversampled below 96 kHz). Memory stays the same whatever the length:
// the gated blocks are counted in 0.01 LU bins.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace render {

class LoudnessMeter {
 public:
  LoudnessMeter(int channels, double sampleRate);

  // Planar channels, as many as given to the constructor; with
  // `clipAtFullScale` what an integer file holds is measured.
  void Add(const double* const* channels, size_t frames, bool clipAtFullScale = false);

  // LUFS; -inf for silence or audio shorter than one 400 ms block.
  double IntegratedLufs() const;
  // LU; 0 for audio shorter than one 3 s window.
  double RangeLu() const;
  // dBTP, the largest over the channels.
  double TruePeakDb() const;
  // The loudest 400 ms and 3 s windows, LUFS.
  double MaxMomentaryLufs() const { return maxMomentary_; }
  double MaxShortTermLufs() const { return maxShortTerm_; }

  // Taps per phase of the true-peak interpolator.
  static constexpr int kTaps = 32;

 private:
  // Mean squares of gated windows in 0.01 LU bins from -70 LUFS up.
  struct Histogram {
    std::vector<uint64_t> counts;
    double energySum = 0;
    uint64_t total = 0;
    void Add(double energy);
    // The bins from the one holding `energySum / total * relativeGain` up.
    size_t GateBin(double relativeGain) const;
  };
  struct Channel {
    double s1 = 0, s2 = 0, h1 = 0, h2 = 0;  // the two K-weighting sections
    std::vector<float> line;                  // kTaps - 1 samples before the chunk, then the chunk
  };
  void AddChunk(const double* const* channels, size_t offset, size_t n, bool clip);
  void PeakOfChunk(Channel& channel, size_t n);
  void EndOfWindow();

  int channels_;
  int factor_;  // true-peak oversampling
  size_t windowFrames_, sinceWindow_ = 0;  // 100 ms
  double shelf_[5], highPass_[5];          // b0 b1 b2 a1 a2
  std::vector<Channel> state_;
  std::vector<float> phases_;   // (factor_ - 1) phases of kTaps
  double boundGain_ = 0;        // the largest sum of a phase's |taps|
  double peak_ = 0;             // linear, samples and interpolated (in single precision)
  double windowSum_ = 0;
  std::array<double, 30> recent_{};  // the last 3 s of 100 ms sums
  uint64_t windows_ = 0;
  Histogram gated_, shortTerm_;
  double maxMomentary_, maxShortTerm_;
};

}  // namespace render
