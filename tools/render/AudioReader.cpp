#include "AudioReader.h"

#include "RiffInfo.h"
#include "RiffMarkers.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sndfile.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

namespace render {
namespace {

constexpr size_t kReadChunk = 8192;

int BytesPerSampleOf(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_ULAW: case SF_FORMAT_ALAW: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32: case SF_FORMAT_FLOAT: return 4;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 0;
  }
}

using riff::Be32;
using riff::Le32;
using riff::Le64;

// The frame count a WAV, RF64 or AIFF header promises, -1 when it promises
// none. libsndfile shortens its own count to what a cut file holds, so a
// truncated file would go unnoticed without this. `unclaimedBytes` gets the
// bytes after a WAV data chunk whose size says 0, which libsndfile reads as
// no audio at all.
int64_t PromisedFrames(const std::string& path, uint64_t& unclaimedBytes) {
  unclaimedBytes = 0;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return -1;
  unsigned char head[12];
  int64_t frames = -1;
  if (fread(head, 1, 12, file) == 12) {
    const bool riff = !memcmp(head, "RIFF", 4) || !memcmp(head, "RF64", 4);
    const bool aiff = !memcmp(head, "FORM", 4) && (!memcmp(head + 8, "AIFF", 4) || !memcmp(head + 8, "AIFC", 4));
    const bool wave = riff && !memcmp(head + 8, "WAVE", 4);
    uint64_t rf64Data = 0;
    unsigned blockAlign = 0;
    bool plainEncoding = false;
    unsigned char chunk[8], body[28];
    // Metadata chunks come first; a few dozen is plenty for any real file.
    for (int i = 0; (wave || aiff) && i < 64 && fread(chunk, 1, 8, file) == 8; ++i) {
      const uint32_t size = wave ? Le32(chunk + 4) : Be32(chunk + 4);
      const size_t want = std::min<size_t>(size, sizeof(body));
      if (fread(body, 1, want, file) != want) break;
      if (aiff && !memcmp(chunk, "COMM", 4) && want >= 6) {
        frames = Be32(body + 2);
        break;
      }
      if (wave && !memcmp(chunk, "ds64", 4) && want >= 16) rf64Data = Le64(body + 8);
      if (wave && !memcmp(chunk, "fmt ", 4) && want >= 14) {
        // PCM, float, A-law, mu-law, extensible: one block is one frame.
        const unsigned tag = body[0] | body[1] << 8;
        plainEncoding = tag == 1 || tag == 3 || tag == 6 || tag == 7 || tag == 0xFFFE;
        blockAlign = body[12] | body[13] << 8;
      }
      if (wave && !memcmp(chunk, "data", 4)) {
        // RF64 keeps the size in ds64. A file streamed to a pipe may leave
        // it open: 0, the largest size, or sox's 0x7ffff000.
        const bool inDs64 = size == 0xFFFFFFFFu && rf64Data > 0;
        const uint64_t bytes = inDs64 ? rf64Data : size;
        const bool open = !inDs64 && (size == 0 || size == 0xFFFFFFFFu || size == 0x7ffff000u);
        if (plainEncoding && blockAlign && !open) frames = static_cast<int64_t>(bytes / blockAlign);
        struct stat status;
        const long start = ftell(file) - static_cast<long>(want);
        if (size == 0 && start > 0 && fstat(fileno(file), &status) == 0 && status.st_size > start) {
          unclaimedBytes = static_cast<uint64_t>(status.st_size - start);
        }
        break;
      }
      if (fseek(file, static_cast<long>(size - want + (size & 1)), SEEK_CUR) != 0) break;
    }
  }
  fclose(file);
  return frames;
}

// More cue points than this is no marker list anyone made by hand.
constexpr uint32_t kMaxCuePoints = 10000;
// Larger iXML or adtl chunks are not carried.
constexpr unsigned kMaxCarriedChunkBytes = 8u << 20;

// A WAV or AIFF file's cue points (an AIFF file's MARK chunk), with the
// names libsndfile finds for them (a WAV file's labl texts, a marker's own
// name in AIFF).
void ReadCuePoints(SNDFILE* file, AudioFileInfo& info) {
  uint32_t count = 0;
  if (sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof(count)) == SF_TRUE && count > 0) {
    if (count > kMaxCuePoints) {
      info.unreadChunks.push_back(std::to_string(count) + " cue markers (more than " +
                                  std::to_string(kMaxCuePoints) + ")");
    } else {
      std::vector<uint8_t> cues(offsetof(SF_CUES, cue_points) + count * sizeof(SF_CUE_POINT));
      if (sf_command(file, SFC_GET_CUE, cues.data(), static_cast<int>(cues.size())) == SF_TRUE) {
        info.cues.swap(cues);
        info.cueCount = count;
      }
    }
  }
}

// The chunks of a WAV or AIFF file carried as they are: a WAV file's iXML,
// its LIST/adtl chunk with the markers' texts and its sampler loops (smpl),
// an AIFF file's sampler loops (INST). A stream's header is behind it: the
// chunks' bytes cannot be fetched again, and are named instead.
void ReadCarriedChunks(SNDFILE* file, bool stream, AudioFileInfo& info) {
  // libsndfile reads no cue chunk from RF64.
  if (info.majorFormat == SF_FORMAT_RF64 && info.cueCount == 0) {
    SF_CHUNK_INFO cue;
    memset(&cue, 0, sizeof(cue));
    memcpy(cue.id, "cue ", 4);
    cue.id_size = 4;
    if (sf_get_chunk_iterator(file, &cue)) info.unreadChunks.push_back("cue markers (RF64)");
  }
  const bool aiff = info.majorFormat == SF_FORMAT_AIFF;
  for (const char* id : aiff ? std::vector<const char*>{"INST"} : std::vector<const char*>{"iXML", "LIST", "smpl"}) {
    SF_CHUNK_INFO wanted;
    memset(&wanted, 0, sizeof(wanted));
    memcpy(wanted.id, id, 4);
    wanted.id_size = 4;
    for (SF_CHUNK_ITERATOR* at = sf_get_chunk_iterator(file, &wanted); at; at = sf_next_chunk_iterator(at)) {
      SF_CHUNK_INFO chunk;
      memset(&chunk, 0, sizeof(chunk));
      if (sf_get_chunk_size(at, &chunk) != SF_ERR_NO_ERROR || chunk.datalen == 0) continue;
      if (chunk.datalen > kMaxCarriedChunkBytes) {
        info.unreadChunks.push_back(std::string(id) + " chunk (larger than 8 MiB)");
        continue;
      }
      const bool list = !strcmp(id, "LIST");
      if (stream) {
        // Of a stream's LIST chunks, only the markers' texts are missed
        // (INFO is read as tags), and only where there are markers.
        const std::string name = list ? "marker texts (LIST/adtl)" : std::string(id) + " chunk";
        const bool missed = !list || info.cueCount > 0;
        if (missed && std::find(info.unreadChunks.begin(), info.unreadChunks.end(), name) == info.unreadChunks.end()) {
          info.unreadChunks.push_back(name);
        }
        continue;
      }
      RiffChunk carried{id, std::vector<uint8_t>(chunk.datalen)};
      chunk.data = carried.payload.data();
      if (sf_get_chunk_data(at, &chunk) != SF_ERR_NO_ERROR) {
        info.unreadChunks.push_back(std::string(id) + " chunk");
        continue;
      }
      carried.payload.resize(chunk.datalen);
      // Of the LIST chunks, the markers' texts; INFO is read as tags.
      if (list && (carried.payload.size() < 4 || memcmp(carried.payload.data(), "adtl", 4))) continue;
      if (list && !IsWholeAdtl(carried.payload)) {
        info.unreadChunks.push_back("marker texts (a damaged LIST/adtl chunk)");
        continue;
      }
      info.chunks.push_back(std::move(carried));
    }
  }
}

bool ReadFully(int fd, unsigned char* buffer, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const unsigned char* buffer, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Hands libsndfile a pipe that starts with the bytes already taken from
// the stream `source` to tell FLAC apart, then carries the rest as it
// comes. libsndfile reads a pipe without seeking; memory stays one buffer.
// An owned `source` is closed once it ends.
int RelayStream(int source, bool ownsSource, const unsigned char* head, size_t headSize) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::vector<unsigned char> prefix(head, head + headSize);
  std::thread([prefix, source, ownsSource, out = fds[1]] {
    // A reader that stops early must not end the process by SIGPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    std::vector<unsigned char> buffer(65536);
    bool ok = WriteFully(out, prefix.data(), prefix.size());
    while (ok) {
      const ssize_t n = read(source, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      ok = WriteFully(out, buffer.data(), static_cast<size_t>(n));
    }
    close(out);
    if (ownsSource) close(source);
  }).detach();
  return fds[0];
}

}  // namespace

// FLAC from a pipe, decoded by libFLAC as it comes (libsndfile's FLAC
// reader needs to seek). Decoded frames wait in a queue of at most one
// FLAC block.
struct AudioFileReader::FlacStream {
  int fd = STDIN_FILENO;
  FLAC__StreamDecoder* decoder = nullptr;
  std::vector<unsigned char> head;  // bytes read before decoding began
  size_t headUsed = 0;
  unsigned channels = 0, bits = 0, rate = 0;
  uint64_t total = 0;
  std::deque<double> queue;  // interleaved
  bool failed = false;
  std::string error;
  std::shared_ptr<FlacTags> tags = std::make_shared<FlacTags>();

  ~FlacStream() {
    if (decoder) FLAC__stream_decoder_delete(decoder);
  }

  static FLAC__StreamDecoderReadStatus OnRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                              void* data) {
    auto* self = static_cast<FlacStream*>(data);
    if (self->headUsed < self->head.size()) {
      const size_t n = std::min(*bytes, self->head.size() - self->headUsed);
      memcpy(buffer, self->head.data() + self->headUsed, n);
      self->headUsed += n;
      *bytes = n;
      return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    for (;;) {
      const ssize_t n = read(self->fd, buffer, *bytes);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        self->error = strerror(errno);
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
      }
      *bytes = static_cast<size_t>(n);
      return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
  }
  static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* data) {
    auto* self = static_cast<FlacStream*>(data);
    const unsigned bits = frame->header.bits_per_sample;
    if (frame->header.channels != self->channels || bits == 0 || bits > 32) {
      self->error = "its frames change their channel count";
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    const double scale = 1.0 / static_cast<double>(uint64_t{1} << (bits - 1));
    for (unsigned n = 0; n < frame->header.blocksize; ++n) {
      for (unsigned c = 0; c < self->channels; ++c) self->queue.push_back(buffer[c][n] * scale);
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* data) {
    auto* self = static_cast<FlacStream*>(data);
    if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
      self->channels = metadata->data.stream_info.channels;
      self->bits = metadata->data.stream_info.bits_per_sample;
      self->rate = metadata->data.stream_info.sample_rate;
      self->total = metadata->data.stream_info.total_samples;
    } else if (metadata->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && !self->tags->comment) {
      self->tags->comment = FLAC__metadata_object_clone(metadata);
    } else if (metadata->type == FLAC__METADATA_TYPE_PICTURE) {
      if (FLAC__StreamMetadata* copy = FLAC__metadata_object_clone(metadata)) self->tags->pictures.push_back(copy);
    }
  }
  static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
    auto* self = static_cast<FlacStream*>(data);
    if (self->error.empty()) self->error = FLAC__StreamDecoderErrorStatusString[status];
  }

  bool Start() {
    decoder = FLAC__stream_decoder_new();
    if (!decoder) return false;
    FLAC__stream_decoder_set_md5_checking(decoder, false);
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_PICTURE);
    if (FLAC__stream_decoder_init_stream(decoder, OnRead, nullptr, nullptr, nullptr, nullptr, OnWrite, OnMetadata,
                                         OnError, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      return false;
    }
    return FLAC__stream_decoder_process_until_end_of_metadata(decoder) && channels > 0 && rate > 0;
  }
  // Decodes until `samples` interleaved samples wait or the stream ends.
  void Fill(size_t samples) {
    while (!failed && queue.size() < samples) {
      const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
      if (state == FLAC__STREAM_DECODER_END_OF_STREAM) return;
      if (!FLAC__stream_decoder_process_single(decoder) ||
          FLAC__stream_decoder_get_state(decoder) > FLAC__STREAM_DECODER_END_OF_STREAM) {
        failed = true;
        if (error.empty()) error = FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(decoder)];
      }
    }
  }
};

AudioFileReader::AudioFileReader() = default;

AudioFileReader::~AudioFileReader() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
  flac_.reset();
  if (ownedFd_ >= 0) close(ownedFd_);
}

bool AudioFileReader::OpenStream(int fd, std::string& error) {
  stream_ = true;
  if (fd == STDIN_FILENO && isatty(STDIN_FILENO)) {
    error = "is the terminal; pipe a WAV, AIFF or FLAC file into standard input";
    return false;
  }
  unsigned char head[4];
  size_t got = 0;
  if (!ReadFully(fd, head, sizeof(head), got)) {
    error = std::string("cannot be read: ") + strerror(errno);
    return false;
  }
  if (got == 4 && !memcmp(head, "fLaC", 4)) {
    flac_ = std::make_unique<FlacStream>();
    flac_->fd = fd;
    flac_->head.assign(head, head + got);
    if (!flac_->Start()) {
      error = "is not a FLAC stream that can be read" + (flac_->error.empty() ? "" : " (" + flac_->error + ")");
      return false;
    }
    if (flac_->channels > 2) {
      error = "has " + std::to_string(flac_->channels) + " channels; only mono and stereo files can be rendered";
      return false;
    }
    info_.majorFormat = SF_FORMAT_FLAC;
    info_.subtype = flac_->bits <= 8 ? SF_FORMAT_PCM_S8 : flac_->bits <= 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24;
    info_.description = DescribeFormat(SF_FORMAT_FLAC | info_.subtype);
    info_.channels = static_cast<int>(flac_->channels);
    info_.sampleRate = flac_->rate;
    info_.claimedFrames = flac_->total > 0 ? static_cast<int64_t>(flac_->total) : -1;
    // The texts libsndfile would have read from a FLAC file.
    if (const FLAC__StreamMetadata* comment = flac_->tags->comment) {
      for (FLAC__uint32 i = 0; i < comment->data.vorbis_comment.num_comments; ++i) {
        const auto& entry = comment->data.vorbis_comment.comments[i];
        const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
        const size_t equals = text.find('=');
        if (equals == std::string::npos) continue;
        for (const auto& [field, kind] : kLibsndfileFlacFields) {
          if (strcasecmp(field, text.substr(0, equals).c_str()) == 0) info_.strings.emplace_back(kind, text.substr(equals + 1));
        }
      }
    }
    info_.flacTags = flac_->tags;
    return true;
  }
  // A file redirected into standard input is read in place.
  const bool seekable = lseek(fd, -static_cast<off_t>(got), SEEK_CUR) >= 0;
  const bool owned = fd == ownedFd_;
  fd = seekable ? dup(fd) : RelayStream(fd, owned, head, got);
  // The relay owns a stream of ours from here and closes it when it ends.
  if (!seekable && owned && fd >= 0) ownedFd_ = -1;
  if (fd < 0) {
    error = std::string("cannot be read: ") + strerror(errno);
    return false;
  }
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  SNDFILE* file = sf_open_fd(fd, SFM_READ, &sfInfo, SF_TRUE);
  if (!file) {
    close(fd);
    error = std::string("is not a WAV, AIFF or FLAC file, or is damaged (") + sf_strerror(nullptr) + ")";
    return false;
  }
  // A stream written without knowing its length claims the largest size
  // its header holds (sox writes 0x7ffff000); that is no length at all.
  const uint64_t bytes = static_cast<uint64_t>(sfInfo.frames) * static_cast<uint64_t>(std::max(sfInfo.channels, 1)) *
                         static_cast<uint64_t>(std::max(BytesPerSampleOf(sfInfo.format & SF_FORMAT_SUBMASK), 1));
  if (bytes >= 0x7ffff000ull - 65536) sfInfo.frames = 0;
  return Describe(file, sfInfo, -1, error);
}

bool AudioFileReader::Open(const std::string& path, std::string& error) {
  // Read as it comes, as sox does: nothing is stored on the way.
  if (path == "-") return OpenStream(STDIN_FILENO, error);
  {
    // libsndfile reports a missing file and a foreign format alike; ask the
    // file system first so the reason is the real one.
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      error = errno == ENOENT ? "does not exist" : std::string("cannot be read: ") + strerror(errno);
      return false;
    }
    if (S_ISDIR(status.st_mode)) {
      error = "is a folder, not an audio file";
      return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
      error = std::string("cannot be read: ") + strerror(errno);
      return false;
    }
    // A named pipe, /dev/fd/N or a device gives its bytes once: it is
    // opened once and read as it comes, as standard input is.
    if (!S_ISREG(status.st_mode)) {
      ownedFd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (ownedFd_ < 0) {
        error = std::string("cannot be read: ") + strerror(errno);
        return false;
      }
      return OpenStream(ownedFd_, error);
    }
  }
  const int64_t promised = PromisedFrames(path, unclaimedBytes_);
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sfInfo);
  if (!file) {
    error = std::string("is not a WAV, AIFF or FLAC file, or is damaged (") + sf_strerror(nullptr) + ")";
    return false;
  }
  return Describe(file, sfInfo, promised, error);
}

bool AudioFileReader::Describe(void* opened, const SF_INFO& sfInfo, int64_t promised, std::string& error) {
  SNDFILE* file = static_cast<SNDFILE*>(opened);
  file_ = file;
  info_.majorFormat = sfInfo.format & SF_FORMAT_TYPEMASK;
  info_.subtype = sfInfo.format & SF_FORMAT_SUBMASK;
  info_.description = DescribeFormat(sfInfo.format);
  info_.channels = sfInfo.channels;
  info_.sampleRate = sfInfo.samplerate;
  // libsndfile reports a length it does not know as the largest count.
  info_.claimedFrames = sfInfo.frames > 0 && sfInfo.frames < SF_COUNT_MAX ? sfInfo.frames : -1;
  if (promised > info_.claimedFrames) info_.claimedFrames = promised;
  if (info_.majorFormat != SF_FORMAT_WAV && info_.majorFormat != SF_FORMAT_AIFF &&
      info_.majorFormat != SF_FORMAT_FLAC && info_.majorFormat != SF_FORMAT_WAVEX &&
      info_.majorFormat != SF_FORMAT_RF64) {
    error = "is in an unsupported format (" + info_.description + "); use WAV, AIFF or FLAC";
    return false;
  }
  if (sfInfo.channels < 1 || sfInfo.channels > 2) {
    error = "has " + std::to_string(sfInfo.channels) +
            " channels; only mono and stereo files can be rendered";
    return false;
  }
  if (sfInfo.samplerate <= 0) {
    error = "has no valid sample rate";
    return false;
  }
  for (int kind = SF_STR_FIRST; kind <= SF_STR_LAST; ++kind) {
    const char* text = sf_get_string(file, kind);
    if (text && *text) info_.strings.emplace_back(kind, text);
  }
  SF_BROADCAST_INFO_VAR(16384) bext;
  memset(&bext, 0, sizeof(bext));
  if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&bext);
    info_.broadcastInfo.assign(bytes, bytes + sizeof(bext));
  }
  if (info_.majorFormat == SF_FORMAT_WAV || info_.majorFormat == SF_FORMAT_WAVEX ||
      info_.majorFormat == SF_FORMAT_RF64 || info_.majorFormat == SF_FORMAT_AIFF) {
    ReadCuePoints(file, info_);
    ReadCarriedChunks(file, stream_, info_);
  }
  interleaved_.resize(kReadChunk * static_cast<size_t>(info_.channels));
  return true;
}

size_t AudioFileReader::Read(double* const* channels, size_t frames) {
  if (flac_) {
    const size_t count = static_cast<size_t>(info_.channels);
    flac_->Fill(frames * count);
    const size_t done = std::min(frames, flac_->queue.size() / count);
    for (size_t n = 0; n < done; ++n) {
      for (size_t c = 0; c < count; ++c) {
        channels[c][n] = flac_->queue.front();
        flac_->queue.pop_front();
      }
    }
    if (done < frames && flac_->failed && damage_.empty()) damage_ = flac_->error;
    framesRead_ += done;
    return done;
  }
  if (!file_) return 0;
  SNDFILE* file = static_cast<SNDFILE*>(file_);
  const size_t count = static_cast<size_t>(info_.channels);
  size_t done = 0;
  while (done < frames) {
    const size_t want = std::min(kReadChunk, frames - done);
    sf_count_t got = sf_readf_double(file, interleaved_.data(), static_cast<sf_count_t>(want));
    if (got <= 0) {
      if (sf_error(file) != SF_ERR_NO_ERROR && damage_.empty()) damage_ = sf_strerror(file);
      break;
    }
    for (size_t n = 0; n < static_cast<size_t>(got); ++n) {
      for (size_t c = 0; c < count; ++c) channels[c][done + n] = interleaved_[n * count + c];
    }
    done += static_cast<size_t>(got);
  }
  framesRead_ += done;
  return done;
}

}  // namespace render
