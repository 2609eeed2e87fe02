// Reading an input file for kestrune-render a block at a time, so memory
// stays the same whatever the file's length. The header's frame count is
// only a hint: reading goes on until the data ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AudioFile.h"

struct SF_INFO;

namespace render {

class AudioFileReader {
 public:
  AudioFileReader();
  ~AudioFileReader();
  AudioFileReader(const AudioFileReader&) = delete;
  AudioFileReader& operator=(const AudioFileReader&) = delete;

  // Opens a WAV, AIFF or FLAC file, mono or stereo; "-" reads standard
  // input as it comes (a pipe is never stored anywhere), and so is a named
  // pipe or device: every input is opened and read once.
  // On failure `error` completes "input 'name' ...", e.g. "does not exist".
  bool Open(const std::string& path, std::string& error);
  const AudioFileInfo& Info() const { return info_; }
  // Read as a stream (standard input, a pipe, a device): it cannot be
  // opened again for its metadata.
  bool IsStream() const { return stream_; }
  // Bytes after a WAV data chunk whose header says it is empty: audio,
  // most likely, that a careless writer never counted. They are not read.
  uint64_t UnclaimedBytes() const { return unclaimedBytes_; }

  // Reads up to `frames` frames into planar `channels` (Info().channels of
  // them); returns the number read, 0 at the end of the data.
  size_t Read(double* const* channels, size_t frames);
  size_t FramesRead() const { return framesRead_; }
  // Why reading stopped early, if the file is damaged; empty otherwise.
  const std::string& DamageReport() const { return damage_; }

 private:
  struct FlacStream;
  // Reads `fd` (standard input, or a pipe or device opened by Open) as it
  // comes.
  bool OpenStream(int fd, std::string& error);
  // Takes over an opened file and checks what it holds.
  bool Describe(void* file, const SF_INFO& sfInfo, int64_t promised, std::string& error);

  void* file_ = nullptr;  // SNDFILE*
  int ownedFd_ = -1;      // a pipe or device this reader opened and closes
  bool stream_ = false;
  uint64_t unclaimedBytes_ = 0;
  std::unique_ptr<FlacStream> flac_;
  AudioFileInfo info_;
  size_t framesRead_ = 0;
  std::string damage_;
  std::vector<double> interleaved_;
};

}  // namespace render
