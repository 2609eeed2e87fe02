#include "Resampler.h"

#include <soxr.h>

namespace render {
namespace {
constexpr size_t kChunk = 4096;
}  // namespace

SidechainSource::SidechainSource(AudioFileReader& reader, double outputRate) : reader_(reader) {
  const double inputRate = reader.Info().sampleRate;
  if (inputRate == outputRate) return;
  const unsigned channels = static_cast<unsigned>(reader.Info().channels);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  resampler_ = soxr_create(inputRate, outputRate, channels, &error, &io, &quality, nullptr);
  if (error) resampler_ = nullptr;
  in_.assign(channels, std::vector<double>(kChunk));
}

SidechainSource::~SidechainSource() {
  if (resampler_) soxr_delete(static_cast<soxr_t>(resampler_));
}

size_t SidechainSource::Read(double* const* channels, size_t frames) {
  if (!resampler_) return reader_.Read(channels, frames);
  soxr_t soxr = static_cast<soxr_t>(resampler_);
  const size_t count = in_.size();
  outInterleaved_.resize(frames * count);
  size_t done = 0;
  while (done < frames) {
    if (pending_ == inLength_ && !inputEnded_) {
      double* ptrs[2] = {in_[0].data(), count > 1 ? in_[1].data() : nullptr};
      inLength_ = reader_.Read(ptrs, kChunk);
      pending_ = 0;
      inputEnded_ = inLength_ == 0;
      inInterleaved_.resize(inLength_ * count);
      for (size_t n = 0; n < inLength_; ++n) {
        for (size_t c = 0; c < count; ++c) inInterleaved_[n * count + c] = in_[c][n];
      }
    }
    // No input (null) once it has ended: the resampler hands out what it
    // still holds. Input it had no room for is offered again.
    const bool flushing = inputEnded_ && pending_ == inLength_;
    size_t used = 0, made = 0;
    if (soxr_process(soxr, flushing ? nullptr : inInterleaved_.data() + pending_ * count, inLength_ - pending_, &used,
                     outInterleaved_.data() + done * count, frames - done, &made) != nullptr) {
      break;
    }
    pending_ += used;
    done += made;
    if (flushing && made == 0) break;
  }
  for (size_t n = 0; n < done; ++n) {
    for (size_t c = 0; c < count; ++c) channels[c][n] = outInterleaved_[n * count + c];
  }
  return done;
}

}  // namespace render
