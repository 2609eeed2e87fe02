// Audio files for kestrune-render: the sample encodings and containers it
// handles, and what it learns about a file besides its samples. Reading and
// writing are in AudioReader.h and AudioWriter.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct FLAC__StreamMetadata;

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

// A FLAC input's tags and pictures as libFLAC metadata blocks (a Vorbis
// comment, pictures), kept to be written into a FLAC output.
struct FlacTags {
  FLAC__StreamMetadata* comment = nullptr;
  std::vector<FLAC__StreamMetadata*> pictures;
  FlacTags() = default;
  FlacTags(const FlacTags&) = delete;
  FlacTags& operator=(const FlacTags&) = delete;
  ~FlacTags();
  // Tags other than those libsndfile writes into a FLAC file it makes,
  // REPLAYGAIN fields aside (no output keeps them).
  size_t TagsLibsndfileDrops() const;
  // The field names of the tags libsndfile cannot write into a file whose
  // container refused the kinds in `refusedKinds` (SF_STR_*): unknown
  // fields, repeated ones ("TITLE (a second one)"), refused ones, in order,
  // each once; REPLAYGAIN fields are left to the caller.
  std::vector<std::string> FieldsLibsndfileDrops(const std::vector<int>& refusedKinds) const;
  // Whether the input carries REPLAYGAIN tags.
  bool HasReplayGain() const;
};

// A REPLAYGAIN_* field: the loudness of the audio before processing, wrong
// for any output.
bool IsReplayGainField(const std::string& field);

// The tags and pictures of a FLAC file; null when it is no FLAC file.
std::shared_ptr<const FlacTags> ReadFlacTags(const std::string& path);

// The Vorbis comment fields libsndfile reads and writes as its string
// types, lower case, with their SF_STR_* kinds.
extern const std::pair<const char*, int> kLibsndfileFlacFields[10];

// A chunk of a WAV file carried as it is: its id and its payload.
struct RiffChunk {
  std::string id;
  std::vector<uint8_t> payload;
};

// The sample encoding of an output file.
enum class SampleFormat { Pcm16, Pcm24, Pcm32, Float, Double };

// What a file holds besides its samples. `claimedFrames` is what the header
// says, -1 when it says nothing; it is never trusted for more than a
// progress estimate.
struct AudioFileInfo {
  int majorFormat = 0;        // libsndfile SF_FORMAT_* container
  int subtype = 0;            // libsndfile SF_FORMAT_* encoding
  std::string description;    // e.g. "WAV, 24-bit PCM"
  int channels = 0;
  double sampleRate = 0;
  int64_t claimedFrames = -1;
  // Text metadata as (SF_STR_* kind, text) and a broadcast-wave 'bext'
  // chunk as libsndfile hands it over (empty when there is none).
  std::vector<std::pair<int, std::string>> strings;
  std::vector<uint8_t> broadcastInfo;
  // A WAV file's markers, its cue points as libsndfile hands them over
  // (SF_CUES of `cueCount` points; empty when there are none), and the
  // chunks carried as they are: iXML, the LIST/adtl chunk that labels the
  // markers and makes regions of them, a sampler's loops (smpl; an AIFF
  // file's INST). `unreadChunks` names what is there but could not be read
  // (too large, damaged).
  std::vector<uint8_t> cues;
  uint32_t cueCount = 0;
  std::vector<RiffChunk> chunks;
  std::vector<std::string> unreadChunks;
  // A FLAC stream's tags and pictures as they came (a file's are read from
  // the file when needed); null otherwise.
  std::shared_ptr<const FlacTags> flacTags;
};

// "WAV, 24-bit PCM" for a libsndfile format.
std::string DescribeFormat(int format);
// The libsndfile subtype that stores `format`.
int SubtypeFor(SampleFormat format);
// Bits per sample of the integer encodings, 0 for float.
int IntegerBits(SampleFormat format);

// Parses "pcm16", "pcm24", "pcm32", "float", "double" (also "16", "24", "32").
bool ParseSampleFormat(const std::string& text, SampleFormat& format);
const char* SampleFormatName(SampleFormat format);
// The encoding of a libsndfile subtype; false for encodings we do not write.
bool SampleFormatForSubtype(int subtype, SampleFormat& format);
// Whether a container (SF_FORMAT_*) can hold samples of `format`.
bool ContainerHolds(int container, SampleFormat format);

// The container chosen by the output file name's extension (.wav, .aif,
// .aiff, .flac, .raw); 0 when the extension is not one of them.
int ContainerForPath(const std::string& path);

}  // namespace render
