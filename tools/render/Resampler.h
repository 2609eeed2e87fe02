// A sidechain at another sample rate than the input, brought to the
// input's rate by libsoxr as it is read, so it streams like any input.
#pragma once

#include <cstddef>
#include <vector>

#include "AudioReader.h"

namespace render {

class SidechainSource {
 public:
  // Reads `reader` (opened) at `outputRate`; resamples only when the rates differ.
  SidechainSource(AudioFileReader& reader, double outputRate);
  ~SidechainSource();
  SidechainSource(const SidechainSource&) = delete;
  SidechainSource& operator=(const SidechainSource&) = delete;

  bool Resampling() const { return resampler_ != nullptr; }
  // As AudioFileReader::Read, at the output rate.
  size_t Read(double* const* channels, size_t frames);

 private:
  AudioFileReader& reader_;
  void* resampler_ = nullptr;  // soxr_t
  bool inputEnded_ = false;
  size_t inLength_ = 0, pending_ = 0;  // frames in inInterleaved_, and those given to the resampler
  std::vector<std::vector<double>> in_;
  std::vector<double> inInterleaved_, outInterleaved_;
};

}  // namespace render
