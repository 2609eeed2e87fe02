#include "AudioReader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "PendingFile.h"

namespace render {
namespace {

constexpr size_t kReadChunk = 8192;

// Standard input may be a pipe, which libsndfile cannot seek in; it is
// copied to a temporary file that is unlinked as soon as it is open.
bool CopyStandardInput(std::string& copyPath, std::string& error) {
  if (isatty(STDIN_FILENO)) {
    error = "is the terminal; pipe a WAV, AIFF or FLAC file into standard input";
    return false;
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/.kestrune-render-stdin-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) {
    error = std::string("cannot be stored for reading: ") + strerror(errno);
    return false;
  }
  copyPath = name.data();
  TrackPendingFile(copyPath);
  char buffer[65536];
  for (;;) {
    ssize_t got = read(STDIN_FILENO, buffer, sizeof(buffer));
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    bool ok = got > 0;
    for (ssize_t done = 0; ok && done < got;) {
      ssize_t put = write(fd, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      ok = put > 0;
      done += ok ? put : 0;
    }
    if (!ok) {
      error = std::string("cannot be stored for reading: ") + strerror(errno);
      close(fd);
      unlink(copyPath.c_str());
      UntrackPendingFile(copyPath);
      return false;
    }
  }
  close(fd);
  return true;
}

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint32_t Be32(const unsigned char* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

// The frame count a WAV, RF64 or AIFF header promises, -1 when it promises
// none. libsndfile shortens its own count to what a cut file holds, so a
// truncated file would go unnoticed without this.
int64_t PromisedFrames(const std::string& path) {
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
        break;
      }
      if (fseek(file, static_cast<long>(size - want + (size & 1)), SEEK_CUR) != 0) break;
    }
  }
  fclose(file);
  return frames;
}

}  // namespace

AudioFileReader::~AudioFileReader() {
  if (file_) sf_close(static_cast<SNDFILE*>(file_));
}

bool AudioFileReader::Open(const std::string& path, std::string& error) {
  std::string openPath = path;
  if (path == "-") {
    if (!CopyStandardInput(openPath, error)) return false;
  } else {
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
  }
  const int64_t promised = PromisedFrames(openPath);
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  SNDFILE* file = sf_open(openPath.c_str(), SFM_READ, &sfInfo);
  if (openPath != path) {
    unlink(openPath.c_str());
    UntrackPendingFile(openPath);
  }
  if (!file) {
    error = std::string("is not a WAV, AIFF or FLAC file, or is damaged (") + sf_strerror(nullptr) + ")";
    return false;
  }
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
  interleaved_.resize(kReadChunk * static_cast<size_t>(info_.channels));
  return true;
}

size_t AudioFileReader::Read(double* const* channels, size_t frames) {
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
