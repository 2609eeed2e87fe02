// Reading an input file for kestrune-render a block at a time, so memory
// stays the same whatever the file's length. The header's frame count is
// only a hint: reading goes on until the data ends.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "AudioFile.h"

namespace render {

class AudioFileReader {
 public:
  AudioFileReader() = default;
  ~AudioFileReader();
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // Opens a WAV, AIFF or FLAC file, mono or stereo; "-" reads standard
  // input (copied to a temporary file first, which is gone once opened).
  // On failure `error` completes "input 'name' ...", e.g. "does not exist".
  bool Open(const std::string& path, std::string& error);
  const AudioFileInfo& Info() const { return info_; }

  // Reads up to `frames` frames into planar `channels` (Info().channels of
  // them); returns the number read, 0 at the end of the data.
  size_t Read(double* const* channels, size_t frames);
  size_t FramesRead() const { return framesRead_; }
  // Why reading stopped early, if the file is damaged; empty otherwise.
  const std::string& DamageReport() const { return damage_; }

 private:
  void* file_ = nullptr;  // SNDFILE*
  AudioFileInfo info_;
  size_t framesRead_ = 0;
  std::string damage_;
  std::vector<double> interleaved_;
};

}  // namespace render
