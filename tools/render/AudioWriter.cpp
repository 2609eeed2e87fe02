#include "AudioWriter.h"

#include "RiffInfo.h"
#include "RiffMarkers.h"

#include <FLAC/metadata.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "PendingFile.h"

namespace render {
namespace {

// Writes `chunk` into the header as it came.
bool SetChunk(SNDFILE* file, const RiffChunk& chunk) {
  SF_CHUNK_INFO info;
  memset(&info, 0, sizeof(info));
  memcpy(info.id, chunk.id.data(), 4);
  info.id_size = 4;
  info.datalen = static_cast<unsigned>(chunk.payload.size());
  info.data = const_cast<uint8_t*>(chunk.payload.data());
  return sf_set_chunk(file, &info) == SF_ERR_NO_ERROR;
}

bool HoldsBroadcastInfo(int container) {
  return container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
}

int BytesPerSample(SampleFormat format) {
  return format == SampleFormat::Double ? 8 : format == SampleFormat::Float ? 4 : IntegerBits(format) / 8;
}

// Audio bytes a RIFF or AIFF file can count, with room left for the header
// chunks (format, text, broadcast info with its coding history, peaks).
constexpr uint64_t kSmallFileDataLimit = 0xFFFFFFFFull - (1u << 20);

// A WAV header whose sizes are left open, as for any stream whose length
// is not known when it starts; readers take the data to the end.
bool WriteStreamWavHeader(int fd, const OutputEncoding& encoding) {
  const bool floating = encoding.format == SampleFormat::Float || encoding.format == SampleFormat::Double;
  const uint32_t bytes = static_cast<uint32_t>(BytesPerSample(encoding.format));
  const uint32_t rate = static_cast<uint32_t>(encoding.sampleRate + 0.5);
  const uint32_t channels = static_cast<uint32_t>(encoding.channels);
  unsigned char header[44];
  auto put = [&](size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) header[at + static_cast<size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
  };
  memcpy(header, "RIFF", 4);
  put(4, 0xFFFFFFFFu, 4);
  memcpy(header + 8, "WAVEfmt ", 8);
  put(16, 16, 4);
  put(20, floating ? 3 : 1, 2);
  put(22, channels, 2);
  put(24, rate, 4);
  put(28, rate * channels * bytes, 4);
  put(32, channels * bytes, 2);
  put(34, bytes * 8, 2);
  memcpy(header + 36, "data", 4);
  put(40, 0xFFFFFFFFu, 4);
  for (size_t done = 0; done < sizeof(header);) {
    const ssize_t wrote = write(fd, header + done, sizeof(header) - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

WavFlavour ChooseWavFlavour(int inputContainer, int64_t frames, int channels, SampleFormat format) {
  if (inputContainer == SF_FORMAT_RF64) return WavFlavour::Rf64;
  if (frames < 0) return WavFlavour::Rf64UnlessSmall;
  const uint64_t bytes = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels) *
                         static_cast<uint64_t>(BytesPerSample(format));
  return bytes > kSmallFileDataLimit ? WavFlavour::Rf64 : WavFlavour::Riff;
}

std::string DescribePosition(const SamplePosition& position, int channels, double sampleRate) {
  char text[128];
  snprintf(text, sizeof(text), "%.3f s (frame %zu%s)", static_cast<double>(position.frame) / sampleRate,
           position.frame, channels < 2 ? "" : position.channel == 0 ? ", left channel" : ", right channel");
  return text;
}

AudioFileWriter::~AudioFileWriter() { Abandon(); }

std::string AudioFileWriter::Cannot() const {
  return target_ == "-" ? std::string("cannot write to standard output") : "cannot write '" + name_ + "'";
}

bool AudioFileWriter::Open(const std::string& name, const std::string& target,
                           const OutputEncoding& encoding, std::string& error) {
  Abandon();
  if (encoding.container == SF_FORMAT_FLAC && !ContainerHolds(SF_FORMAT_FLAC, encoding.format)) {
    error = std::string("FLAC cannot hold ") + SampleFormatName(encoding.format) +
            " samples; use --sample-format pcm16 or pcm24";
    return false;
  }
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  sfInfo.samplerate = static_cast<int>(encoding.sampleRate + 0.5);
  sfInfo.channels = encoding.channels;
  sfInfo.format = encoding.container | SubtypeFor(encoding.format) |
                  (encoding.container == SF_FORMAT_RAW ? SF_ENDIAN_LITTLE : 0);
  if (!sf_format_check(&sfInfo)) {
    error = std::string("the output format cannot hold ") + SampleFormatName(encoding.format) + " samples";
    return false;
  }
  name_ = name;
  target_ = target;
  encoding_ = encoding;
  if (target == "-") {
    // Streamed as it is rendered, as sox does; nothing is stored on the way.
    if (isatty(STDOUT_FILENO)) {
      error = "cannot write audio to standard output: it is the terminal; redirect it to a file or a pipe";
      return false;
    }
    const int fd = dup(STDOUT_FILENO);
    if (fd < 0) {
      error = std::string("cannot write to standard output: ") + strerror(errno);
      return false;
    }
    return OpenDirect(fd, sfInfo, error);
  }
  if (IsDeviceOrPipe(target)) {
    // Blocks until a pipe has a reader, as for any program writing into one.
    const int fd = open(target.c_str(), O_WRONLY | O_NOCTTY);
    if (fd < 0) {
      error = Cannot() + ": " + strerror(errno);
      return false;
    }
    return OpenDirect(fd, sfInfo, error);
  }
  tempPath_ = PendingPathFor(target);
  TrackPendingFile(tempPath_);
  SNDFILE* file = sf_open(tempPath_.c_str(), SFM_WRITE, &sfInfo);
  if (!file) {
    const int savedErrno = errno;
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    struct stat status;
    if (stat(dir.c_str(), &status) != 0) {
      error = "cannot write '" + name + "': folder '" + dir + "' does not exist";
    } else if (access(dir.c_str(), W_OK) != 0) {
      error = "cannot write '" + name + "': folder '" + dir + "' is not writable";
    } else {
      error = "cannot write '" + name + "': " +
              (savedErrno ? std::string(strerror(savedErrno)) : sf_strerror(nullptr));
    }
    unlink(tempPath_.c_str());
    UntrackPendingFile(tempPath_);
    tempPath_.clear();
    return false;
  }
  // Float files keep values beyond full scale; integer files clip them.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  if (encoding.container == SF_FORMAT_RF64 && encoding.rf64UnlessSmall) {
    sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
  file_ = file;
  return true;
}

bool AudioFileWriter::OpenDirect(int fd, SF_INFO& sfInfo, std::string& error) {
  direct_ = true;
  SNDFILE* file = nullptr;
  if (lseek(fd, 0, SEEK_CUR) >= 0) {
    file = sf_open_fd(fd, SFM_WRITE, &sfInfo, SF_TRUE);
  } else if (encoding_.container == SF_FORMAT_WAV || encoding_.container == SF_FORMAT_RF64) {
    // libsndfile writes no WAV into a pipe: the header is ours, the samples
    // follow it as they come.
    if (!WriteStreamWavHeader(fd, encoding_)) {
      error = Cannot() + ": " + strerror(errno);
      close(fd);
      return false;
    }
    sizeLeftOpen_ = true;
    sfInfo.format = SF_FORMAT_RAW | SF_ENDIAN_LITTLE | SubtypeFor(encoding_.format);
    file = sf_open_fd(fd, SFM_WRITE, &sfInfo, SF_TRUE);
  } else {
    file = sf_open_fd(fd, SFM_WRITE, &sfInfo, SF_TRUE);
    if (!file && encoding_.container == SF_FORMAT_AIFF) {
      error = Cannot() + ": AIFF cannot be written into a pipe; use WAV or FLAC";
      return false;
    }
  }
  if (!file) {
    error = Cannot() + ": " + sf_strerror(nullptr);
    return false;
  }
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  if (encoding_.container == SF_FORMAT_RF64 && encoding_.rf64UnlessSmall && !sizeLeftOpen_) {
    sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
  file_ = file;
  return true;
}

void AudioFileWriter::CopyMetadata(const AudioFileInfo& source) {
  if (!file_) return;
  SNDFILE* file = static_cast<SNDFILE*>(file_);
  // A container without room for a kind of text refuses it; that is fine.
  refusedKinds_.clear();
  for (const auto& [kind, text] : source.strings) {
    if (sf_set_string(file, kind, text.c_str()) != 0) refusedKinds_.push_back(kind);
  }
  if (!source.broadcastInfo.empty() && HoldsBroadcastInfo(encoding_.container) && !sizeLeftOpen_) {
    std::vector<uint8_t> copy(source.broadcastInfo);
    // libsndfile takes the fixed part plus the coding history actually used.
    SF_BROADCAST_INFO head{};
    memcpy(&head, copy.data(), std::min(copy.size(), sizeof(head)));
    const size_t used = offsetof(SF_BROADCAST_INFO, coding_history) + head.coding_history_size;
    const size_t size = std::min(copy.size(), std::max(sizeof(SF_BROADCAST_INFO), used));
    sf_command(file, SFC_SET_BROADCAST_INFO, copy.data(), static_cast<int>(size));
  }
  chunksLeftOut_ = source.unreadChunks;
  markersCarried_ = false;
  const bool wave = HoldsBroadcastInfo(encoding_.container) && !sizeLeftOpen_;
  // FLAC takes the broadcast-wave texts as tags (WaveTags.h).
  if (!source.broadcastInfo.empty() && !wave && encoding_.container != SF_FORMAT_FLAC) {
    chunksLeftOut_.push_back("bext chunk");
  }
  // Markers go into a WAV or AIFF file libsndfile writes, iXML into WAV;
  // RF64 gets iXML only (libsndfile writes no cue chunk there), and a
  // stream none of them: its header goes out before the length is known,
  // so its markers could not be kept within the audio. FLAC has no place
  // for markers: its cue sheet holds tracks of a disc, not named points.
  const bool aiff = encoding_.container == SF_FORMAT_AIFF && !direct_;
  bool renumbered = false;
  if (source.cueCount > 0) {
    std::vector<uint8_t> cues = source.cues;
    SF_CUES* points = reinterpret_cast<SF_CUES*>(cues.data());
    if (aiff) {
      // An AIFF marker's id is a positive 16-bit number.
      bool renumber = false;
      std::set<int32_t> ids;
      for (uint32_t i = 0; i < source.cueCount; ++i) {
        const int32_t id = points->cue_points[i].indx;
        renumber = renumber || id < 1 || id > 32767 || !ids.insert(id).second;
      }
      for (uint32_t i = 0; renumber && i < source.cueCount; ++i) {
        points->cue_points[i].indx = static_cast<int32_t>(i + 1);
      }
      renumbered = renumber;
    }
    markersCarried_ = ((wave && encoding_.container == SF_FORMAT_WAV) || aiff) && !direct_ &&
                      sf_command(file, SFC_SET_CUE, cues.data(), static_cast<int>(cues.size())) == SF_TRUE;
    if (!markersCarried_) chunksLeftOut_.push_back(std::to_string(source.cueCount) + " cue markers");
    // An AIFF input's marker names become the WAV output's labl texts.
    const bool namesFromCues =
        markersCarried_ && !aiff &&
        std::none_of(source.chunks.begin(), source.chunks.end(),
                     [](const RiffChunk& chunk) { return chunk.id == "LIST"; });
    if (namesFromCues) {
      std::vector<MarkerName> names;
      for (uint32_t i = 0; i < source.cueCount; ++i) {
        const SF_CUE_POINT& point = points->cue_points[i];
        names.push_back({static_cast<uint32_t>(point.indx),
                         std::string(point.name, strnlen(point.name, sizeof(point.name)))});
      }
      std::vector<uint8_t> adtl = AdtlOfNames(names);
      if (adtl.size() > 4) {
        SF_CHUNK_INFO info;
        memset(&info, 0, sizeof(info));
        memcpy(info.id, "LIST", 4);
        info.id_size = 4;
        info.datalen = static_cast<unsigned>(adtl.size());
        info.data = adtl.data();
        if (sf_set_chunk(file, &info) != SF_ERR_NO_ERROR) chunksLeftOut_.push_back("marker names");
      }
    }
  }
  for (const RiffChunk& chunk : source.chunks) {
    const bool markerTexts = chunk.id == "LIST";
    // An AIFF file's loops name its markers by their ids: they go with the
    // markers into AIFF, where the ids stay.
    if (chunk.id == "INST") {
      const bool carried = aiff && (source.cueCount == 0 || (markersCarried_ && !renumbered)) &&
                           SetChunk(file, chunk);
      if (!carried) chunksLeftOut_.push_back("INST chunk");
      continue;
    }
    // AIFF keeps the markers' names, but not their notes and regions.
    if (markerTexts && aiff && markersCarried_) {
      if (AdtlHoldsMoreThanNames(chunk.payload)) chunksLeftOut_.push_back("marker notes and regions (LIST/adtl)");
      continue;
    }
    const bool carried = wave && (!markerTexts || markersCarried_) && SetChunk(file, chunk);
    if (!carried) chunksLeftOut_.push_back(markerTexts ? "marker texts (LIST/adtl)" : chunk.id + " chunk");
  }
}

bool AudioFileWriter::Write(const double* const* channels, size_t frames, std::string& error) {
  if (!file_) {
    error = "output file is not open";
    return false;
  }
  const size_t count = static_cast<size_t>(encoding_.channels);
  const bool integer = IsInteger();
  for (size_t c = 0; c < count; ++c) {
    for (size_t n = 0; n < frames; ++n) {
      const double x = channels[c][n];
      if (!std::isfinite(x)) {
        if (nonFinite_++ == 0) firstNonFinite_ = {written_ + n, static_cast<int>(c)};
        if (integer) {
          error = Cannot() + ": the output has a non-finite sample (NaN or infinity) at " +
                  DescribePosition(firstNonFinite_, encoding_.channels, encoding_.sampleRate) + ", which " +
                  SampleFormatName(encoding_.format) +
                  " cannot hold; look for non-finite samples in the input";
          return false;
        }
        continue;
      }
      const double magnitude = std::fabs(x);
      largest_ = std::max(largest_, magnitude);
      if (integer && magnitude > 1.0) ++clipped_[c & 1];
    }
  }
  // An input longer than its header said must not wrap a 32-bit size.
  const bool small =
      !sizeLeftOpen_ && (encoding_.container == SF_FORMAT_WAV || encoding_.container == SF_FORMAT_AIFF);
  if (small && (written_ + frames) * count * static_cast<size_t>(BytesPerSample(encoding_.format)) >
                   kSmallFileDataLimit) {
    error = Cannot() + ": the audio passes the 4 GiB " +
            (encoding_.container == SF_FORMAT_WAV ? "a plain WAV file can hold, and the input's header "
                                                    "promised less; render it again to get RF64"
                                                  : "an AIFF file can hold; write WAV (RF64) or FLAC");
    return false;
  }
  sf_count_t written = 0;
  if (encoding_.format == SampleFormat::Pcm16) {
    // Quantised here so the dither is added before rounding. Full scale is
    // 32768, as libsndfile reads 16-bit files back.
    shorts_.resize(frames * count);
    for (size_t n = 0; n < frames; ++n) {
      for (size_t c = 0; c < count; ++c) {
        double v = channels[c][n] * 32768.0;
        if (encoding_.dither) {
          // Triangular noise of +-1 step: the sum of two uniform values.
          noise_ = noise_ * 1664525u + 1013904223u;
          const double a = static_cast<double>(noise_ >> 8) / 16777216.0;
          noise_ = noise_ * 1664525u + 1013904223u;
          const double b = static_cast<double>(noise_ >> 8) / 16777216.0;
          v += a - b;
        }
        shorts_[n * count + c] = static_cast<short>(std::clamp(std::nearbyint(v), -32768.0, 32767.0));
      }
    }
    errno = 0;
    written = sf_writef_short(static_cast<SNDFILE*>(file_), shorts_.data(), static_cast<sf_count_t>(frames));
  } else {
    interleaved_.resize(frames * count);
    for (size_t n = 0; n < frames; ++n) {
      for (size_t c = 0; c < count; ++c) interleaved_[n * count + c] = channels[c][n];
    }
    errno = 0;
    written = sf_writef_double(static_cast<SNDFILE*>(file_), interleaved_.data(), static_cast<sf_count_t>(frames));
  }
  if (written != static_cast<sf_count_t>(frames)) {
    // The system's reason (EFBIG, ENOSPC) reads better than libsndfile's wrapping of it.
    error = Cannot() + ": " +
            (errno != 0 ? std::string(strerror(errno)) : std::string(sf_strerror(static_cast<SNDFILE*>(file_))));
    return false;
  }
  written_ += frames;
  return true;
}

bool AudioFileWriter::Finish(std::string& error) {
  if (!file_) {
    error = "output file is not open";
    return false;
  }
  const int closeResult = sf_close(static_cast<SNDFILE*>(file_));
  file_ = nullptr;
  if (closeResult != 0) {
    error = Cannot() + ": " + sf_error_number(closeResult);
    Abandon();
    return false;
  }
  // A marker past the end (the input ended early) is dropped.
  if (markersCarried_ && !direct_) {
    const int fd = open(tempPath_.c_str(), O_RDWR | O_CLOEXEC);
    const bool aiff = encoding_.container == SF_FORMAT_AIFF;
    bool ok = fd >= 0 && (aiff ? KeepAiffFileMarkersWithin(fd, written_) : KeepFileMarkersWithin(fd, written_));
    const int savedErrno = errno;
    if (fd >= 0) ok = close(fd) == 0 && ok;
    if (!ok) {
      error = Cannot() + ": " + (savedErrno ? strerror(savedErrno) : "its markers could not be kept within the audio");
      Abandon();
      return false;
    }
  }
  finished_ = true;
  return true;
}

bool AudioFileWriter::Commit(std::string& error) {
  if (finished_ && direct_) {  // it went straight into the device or pipe
    finished_ = false;
    return true;
  }
  if (!finished_ || tempPath_.empty()) {
    error = Cannot() + ": the file was not completed";
    return false;
  }
  bool ok;
  ok = CommitPendingFile(tempPath_, target_, error);
  if (!ok) error = Cannot() + error.substr(error.find("':") + 1);
  tempPath_.clear();
  finished_ = false;
  return ok;
}

bool AudioFileWriter::CarryFlacMetadata(const FlacTags* tags, std::string& error) {
  if (!finished_ || direct_ || tempPath_.empty() || encoding_.container != SF_FORMAT_FLAC || !tags) return true;
  FLAC__Metadata_Chain* out = FLAC__metadata_chain_new();
  if (!out) {
    error = Cannot() + ": out of memory";
    return false;
  }
  bool ok = FLAC__metadata_chain_read(out, tempPath_.c_str());
  // The input's tags (all of them, with the output's vendor string) and
  // pictures replace what libsndfile could carry.
  FLAC__Metadata_Iterator* at = FLAC__metadata_iterator_new();
  FLAC__StreamMetadata* comment = tags->comment ? FLAC__metadata_object_clone(tags->comment) : nullptr;
  std::vector<FLAC__StreamMetadata*> pictures;
  for (const FLAC__StreamMetadata* picture : tags->pictures) pictures.push_back(FLAC__metadata_object_clone(picture));
  ok = ok && (comment || !tags->comment) && std::find(pictures.begin(), pictures.end(), nullptr) == pictures.end();
  // REPLAYGAIN tags give the input's loudness, not the output's.
  for (FLAC__uint32 i = comment ? comment->data.vorbis_comment.num_comments : 0; ok && i-- > 0;) {
    const auto& entry = comment->data.vorbis_comment.comments[i];
    if (IsReplayGainField(std::string(reinterpret_cast<const char*>(entry.entry), entry.length))) {
      ok = FLAC__metadata_object_vorbiscomment_delete_comment(comment, i);
    }
  }
  if (ok && at) {
    FLAC__metadata_iterator_init(at, out);
    while (FLAC__metadata_iterator_next(at)) {
      const FLAC__MetadataType type = FLAC__metadata_iterator_get_block_type(at);
      if (type == FLAC__METADATA_TYPE_VORBIS_COMMENT && comment) {
        const FLAC__StreamMetadata* own = FLAC__metadata_iterator_get_block(at);
        FLAC__metadata_object_vorbiscomment_set_vendor_string(comment, own->data.vorbis_comment.vendor_string, true);
        ok = ok && FLAC__metadata_iterator_delete_block(at, false);
      } else if (type == FLAC__METADATA_TYPE_PICTURE || type == FLAC__METADATA_TYPE_PADDING) {
        ok = ok && FLAC__metadata_iterator_delete_block(at, false);
      }
    }
    // Behind the stream info, which stays first.
    FLAC__metadata_iterator_init(at, out);
    for (FLAC__StreamMetadata*& block : pictures) {
      ok = ok && FLAC__metadata_iterator_insert_block_after(at, block);
      if (ok) block = nullptr;
    }
    if (comment) {
      FLAC__metadata_iterator_init(at, out);
      ok = ok && FLAC__metadata_iterator_insert_block_after(at, comment);
      if (ok) comment = nullptr;
    }
    ok = ok && FLAC__metadata_chain_write(out, true, false);
  }
  if (at) FLAC__metadata_iterator_delete(at);
  if (comment) FLAC__metadata_object_delete(comment);
  for (FLAC__StreamMetadata* block : pictures) {
    if (block) FLAC__metadata_object_delete(block);
  }
  if (!ok) {
    error = Cannot() + ": its tags could not be written (" +
            FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(out)] + ")";
  }
  FLAC__metadata_chain_delete(out);
  return ok;
}

bool AudioFileWriter::CompleteBroadcastInfo(const BroadcastLoudness& loudness, const std::string& software,
                                            std::string& error) {
  if (!finished_ || direct_ || tempPath_.empty() || !HoldsBroadcastInfo(encoding_.container)) return true;
  const int fd = open(tempPath_.c_str(), O_RDWR);
  if (fd < 0) {
    error = Cannot() + ": " + strerror(errno);
    return false;
  }
  // The header chunks come before the audio; 1 MiB holds any of them.
  std::vector<unsigned char> head(1 << 20);
  const ssize_t got = pread(fd, head.data(), head.size(), 0);
  head.resize(got > 0 ? static_cast<size_t>(got) : 0);
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(head[at] | head[at + 1] << 8 | head[at + 2] << 16 | static_cast<uint32_t>(head[at + 3]) << 24);
  };
  size_t at = 12, bext = 0, bextSize = 0;
  while (head.size() >= 12 && at + 8 <= head.size()) {
    const uint32_t size = le32(at + 4);
    if (!memcmp(&head[at], "bext", 4)) {
      bext = at + 8;
      bextSize = size;
      break;
    }
    if (!memcmp(&head[at], "data", 4)) break;
    at += 8 + static_cast<size_t>(size) + (size & 1);
  }
  // Version 2 with the measured loudness, in hundredths; 0x7FFF where
  // there is no figure (silence).
  constexpr size_t kVersion = 346, kLoudness = 412, kHistory = 602;
  bool ok = true;
  if (bext && bextSize >= kHistory && bext + bextSize <= head.size()) {
    unsigned char* chunk = &head[bext];
    chunk[kVersion] = 2;
    chunk[kVersion + 1] = 0;
    const double values[5] = {loudness.integratedLufs, loudness.rangeLu, loudness.truePeakDb, loudness.maxMomentaryLufs,
                              loudness.maxShortTermLufs};
    for (int i = 0; i < 5; ++i) {
      const double hundredths = std::round(values[i] * 100.0);
      const int16_t value = std::isfinite(hundredths) && std::fabs(hundredths) < 32767 ? static_cast<int16_t>(hundredths)
                                                                                     : int16_t{0x7FFF};
      chunk[kLoudness + 2 * i] = static_cast<unsigned char>(value & 0xFF);
      chunk[kLoudness + 2 * i + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    }
    // libsndfile adds a coding-history line naming itself; the line is
    // this program's, in the room libsndfile's took.
    std::string history(reinterpret_cast<const char*>(chunk + kHistory), bextSize - kHistory);
    history = history.substr(0, history.find('\0'));
    const size_t line = history.rfind("A=", history.size() >= 2 ? history.size() - 2 : 0);
    const size_t tag = history.find("T=libsndfile", line == std::string::npos ? history.size() : line);
    if (line != std::string::npos && tag != std::string::npos) {
      const size_t room = bextSize - kHistory - tag - 2;  // after "T="
      std::string name = software + "\r\n";
      if (name.size() > room) name = "Kestrune\r\n";
      memset(chunk + kHistory + tag + 2, 0, room);
      memcpy(chunk + kHistory + tag + 2, name.data(), std::min(name.size(), room));
    }
    ok = pwrite(fd, chunk, bextSize, static_cast<off_t>(bext)) == static_cast<ssize_t>(bextSize);
  }
  ok = close(fd) == 0 && ok;
  if (!ok) error = Cannot() + ": " + strerror(errno);
  return ok;
}

bool AudioFileWriter::CarryInfoTags(const std::string& source, std::string& warning, std::string& error) {
  if (!finished_ || direct_ || tempPath_.empty() ||
      (encoding_.container != SF_FORMAT_WAV && encoding_.container != SF_FORMAT_RF64)) {
    return true;
  }
  std::vector<InfoTag> inputTags, outputTags;
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return true;  // read once already; a stream cannot be read again
  const InfoRead read = ReadInfoTagsOf(in, inputTags);
  close(in);
  if (read != InfoRead::kRead) {
    // Damaged tags are not half carried.
    if (read == InfoRead::kDamaged) {
      warning = "the input's LIST/INFO chunk is damaged; only the tags libsndfile read are carried";
    }
    return true;
  }
  const int out = open(tempPath_.c_str(), O_RDWR | O_CLOEXEC);
  if (out < 0) {
    error = Cannot() + ": " + strerror(errno);
    return false;
  }
  std::vector<InfoTag> extra;
  if (ReadInfoTagsOf(out, outputTags) == InfoRead::kRead) {
    for (const InfoTag& tag : inputTags) {
      const bool written = std::any_of(outputTags.begin(), outputTags.end(),
                                       [&](const InfoTag& own) { return own.id == tag.id; });
      if (!written) extra.push_back(tag);
    }
  }
  bool ok = extra.empty() || AppendInfoTags(out, extra);
  const int savedErrno = errno;
  ok = close(out) == 0 && ok;
  if (!ok && savedErrno == 0) {
    warning = "the output has no room for the input's other LIST/INFO tags";
    return true;
  }
  if (!ok) error = Cannot() + ": " + strerror(savedErrno ? savedErrno : errno);
  return ok;
}

void AudioFileWriter::Abandon() {
  if (file_) {
    sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
  }
  if (!tempPath_.empty()) {
    unlink(tempPath_.c_str());
    UntrackPendingFile(tempPath_);
    tempPath_.clear();
  }
  finished_ = false;
  direct_ = false;
  sizeLeftOpen_ = false;
}

}  // namespace render
