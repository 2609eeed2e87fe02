// Audio files for kestrune-render: reading WAV, AIFF and FLAC through
// libsndfile into planar double buffers, and writing the result so that a
// failed render never leaves a partial file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {

// Planar audio: channels[c][frame]. Every channel has the same length.
struct AudioBuffer {
  double sampleRate = 0;
  std::vector<std::vector<double>> channels;

  int ChannelCount() const { return static_cast<int>(channels.size()); }
  size_t FrameCount() const { return channels.empty() ? 0 : channels[0].size(); }
  void Resize(int channelCount, size_t frames) {
    channels.assign(static_cast<size_t>(channelCount), std::vector<double>(frames, 0.0));
  }
};

// The sample encoding of an output file.
enum class SampleFormat { Pcm16, Pcm24, Pcm32, Float, Double };

// What was read, besides the samples: the file's own encoding, so the output
// can keep it when the output container allows.
struct AudioFileInfo {
  int majorFormat = 0;        // libsndfile SF_FORMAT_* container
  int subtype = 0;            // libsndfile SF_FORMAT_* encoding
  std::string description;    // e.g. "WAV, 24-bit PCM"
};

// Reads a whole file. On failure returns false and sets `error` to a
// phrase that completes "input 'name' ...", e.g. "does not exist".
bool ReadAudioFile(const std::string& path, AudioBuffer& audio, AudioFileInfo& info,
                   std::string& error);

// Parses "pcm16", "pcm24", "pcm32", "float", "double" (also "16", "24", "32").
bool ParseSampleFormat(const std::string& text, SampleFormat& format);
const char* SampleFormatName(SampleFormat format);
// The encoding of a libsndfile subtype; false for encodings we do not write.
bool SampleFormatForSubtype(int subtype, SampleFormat& format);
// Whether a container (SF_FORMAT_*) can hold samples of `format`.
bool ContainerHolds(int container, SampleFormat format);

// The container chosen by the output file name's extension (.wav, .aif,
// .aiff, .flac); 0 when the extension is not one of them.
int ContainerForPath(const std::string& path);

// An output file that appears under its final name only when Commit()
// succeeds. Open() creates a hidden temporary file beside the target, so an
// unwritable folder is found before any processing; a writer destroyed
// without Commit() removes the temporary file.
class AudioFileWriter {
 public:
  AudioFileWriter() = default;
  ~AudioFileWriter();
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  bool Open(const std::string& path, int container, SampleFormat format, int channels,
            double sampleRate, std::string& error);
  // Appends `frames` frames from planar channel pointers.
  bool Write(const double* const* channels, size_t frames, std::string& error);
  bool Commit(std::string& error);
  void Abandon();

 private:
  void* file_ = nullptr;      // SNDFILE*
  std::string path_;
  std::string tempPath_;
  int channelCount_ = 0;
  std::vector<double> interleaved_;
};

// Writes `audio` in one go through an AudioFileWriter.
bool WriteAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format,
                    std::string& error);

}  // namespace render
