// Loudness of a stream per EBU R 128 / ITU-R BS.1770, measured by
// libebur128 as the audio passes: integrated loudness, loudness range and
// true peak. Its histogram mode keeps memory the same whatever the length.
#pragma once

#include <cstddef>
#include <vector>

namespace render {

class LoudnessMeter {
 public:
  LoudnessMeter(int channels, double sampleRate);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // Planar channels, as many as given to the constructor; with
  // `clipAtFullScale` what an integer file holds is measured.
  void Add(const double* const* channels, size_t frames, bool clipAtFullScale = false);

  // LUFS; -inf for silence or audio shorter than one 400 ms block.
  double IntegratedLufs() const;
  double RangeLu() const;
  // dBTP, the largest over the channels.
  double TruePeakDb() const;
  // The loudest 400 ms and 3 s windows, LUFS.
  double MaxMomentaryLufs() const { return maxMomentary_; }
  double MaxShortTermLufs() const { return maxShortTerm_; }

 private:
  void* state_ = nullptr;  // ebur128_state*
  int channels_;
  size_t sinceWindow_ = 0, windowFrames_;
  double maxMomentary_, maxShortTerm_;
  std::vector<double> interleaved_;
};

}  // namespace render
