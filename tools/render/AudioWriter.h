// Writing kestrune-render's audio output a block at a time. The samples go
// to a hidden temporary file that takes the final name only in Commit(), so
// a failed or interrupted render never leaves a partial file behind. "-"
// (standard output), a device or a named pipe is written into directly as
// the samples come (WAV into a pipe with its length left open), as sox
// does: a stream cannot be replaced by a file, nor held back.
//
// On the way out the writer quantises to the output's encoding: integer
// outputs of 16 bits get TPDF dither unless it is switched off, samples
// beyond full scale are clipped and counted per channel, and a non-finite
// sample, which no integer encoding can hold, stops the write with its
// position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "AudioFile.h"

struct SF_INFO;

namespace render {

struct OutputEncoding {
  int container = 0;  // SF_FORMAT_WAV, _RF64, _AIFF or _FLAC
  bool rf64UnlessSmall = false;  // RF64 that becomes plain WAV if it stays small
  SampleFormat format = SampleFormat::Pcm24;
  int channels = 2;
  double sampleRate = 48000;
  bool dither = true;  // TPDF dither for integer encodings of 16 bits or fewer
};

// EBU R 128 figures for a broadcast-wave chunk; non-finite where there are none.
struct BroadcastLoudness {
  double integratedLufs, rangeLu, truePeakDb, maxMomentaryLufs, maxShortTermLufs;
};

// Where something happened in the stream.
struct SamplePosition {
  size_t frame = 0;
  int channel = 0;
};
// "1.250 s (frame 60000, left channel)"
std::string DescribePosition(const SamplePosition& position, int channels, double sampleRate);

// How a WAV output is written. RIFF counts its sizes in 32 bits, so audio
// that may pass 4 GiB goes into RF64, as does the audio of an RF64 input;
// `frames` is -1 when the input's length is unknown.
enum class WavFlavour { Riff, Rf64, Rf64UnlessSmall };
WavFlavour ChooseWavFlavour(int inputContainer, int64_t frames, int channels, SampleFormat format);

class AudioFileWriter {
 public:
  AudioFileWriter() = default;
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // `name` is what messages call the file; `target` where it goes ("-" for
  // standard output; a resolved path otherwise).
  bool Open(const std::string& name, const std::string& target, const OutputEncoding& encoding,
            std::string& error);
  // Carries text metadata, a broadcast-wave chunk, cue markers with their
  // texts (LIST/adtl) and an iXML chunk over where the output holds them;
  // call before the first Write. Finish drops a marker past the output's
  // end.
  void CopyMetadata(const AudioFileInfo& source);
  // The SF_STR_* kinds of text the container refused in CopyMetadata.
  const std::vector<int>& RefusedTextKinds() const { return refusedKinds_; }
  // What CopyMetadata could not carry, as a warning names it ("2 cue
  // markers", "iXML chunk"), including what the input could not give.
  const std::vector<std::string>& ChunksLeftOut() const { return chunksLeftOut_; }
  // Appends `frames` frames from planar channel pointers.
  bool Write(const double* const* channels, size_t frames, std::string& error);
  // Completes the temporary file; the target is not touched yet.
  bool Finish(std::string& error);
  // A FLAC output gets every tag and picture of a FLAC input (libsndfile
  // carries only a few tags); call between Finish and Commit. Streams and
  // other types are left as they are.
  bool CarryFlacMetadata(const FlacTags* tags, std::string& error);
  // Writing straight into standard output, a device or a pipe.
  bool Direct() const { return direct_; }
  // A WAV output that carries a broadcast-wave chunk gets the output's
  // loudness in it (version 2) and `software` in place of libsndfile's
  // coding-history line; call between Finish and Commit.
  bool CompleteBroadcastInfo(const BroadcastLoudness& loudness, const std::string& software, std::string& error);
  // A WAV output from a WAV file gets the input's LIST/INFO tags that
  // libsndfile has no string type for (ITCH, ISRC, IENG, ...); call
  // between Finish and Commit. `warning` says why tags were left out.
  bool CarryInfoTags(const std::string& source, std::string& warning, std::string& error);
  // Moves the finished file to its target.
  bool Commit(std::string& error);
  void Abandon();

  bool IsInteger() const { return IntegerBits(encoding_.format) > 0; }
  size_t ClippedSamples(int channel) const { return clipped_[channel & 1]; }
  double LargestMagnitude() const { return largest_; }
  size_t NonFiniteSamples() const { return nonFinite_; }
  SamplePosition FirstNonFinite() const { return firstNonFinite_; }

 private:
  std::vector<int> refusedKinds_;
  std::vector<std::string> chunksLeftOut_;
  bool markersCarried_ = false;
  // Writes into `fd` (standard output, a device or a pipe) as the samples
  // come; takes the descriptor over.
  bool OpenDirect(int fd, SF_INFO& sfInfo, std::string& error);
  std::string Cannot() const;  // "cannot write 'name'" or "... to standard output"

  void* file_ = nullptr;  // SNDFILE*
  std::string name_;
  std::string target_;
  std::string tempPath_;
  bool direct_ = false;        // writing straight into a device or a pipe
  bool sizeLeftOpen_ = false;  // a WAV header of our own with open sizes
  bool finished_ = false;
  OutputEncoding encoding_;
  size_t written_ = 0;
  size_t clipped_[2] = {0, 0};
  double largest_ = 0;
  size_t nonFinite_ = 0;
  SamplePosition firstNonFinite_;
  uint32_t noise_ = 0x2545F491u;
  std::vector<double> interleaved_;
  std::vector<short> shorts_;
};

}  // namespace render
