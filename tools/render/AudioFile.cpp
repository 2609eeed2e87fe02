#include "AudioFile.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "PendingFile.h"

namespace render {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string DescribeFormat(int format) {
  SF_FORMAT_INFO major;
  SF_FORMAT_INFO sub;
  major.format = format & SF_FORMAT_TYPEMASK;
  sub.format = format & SF_FORMAT_SUBMASK;
  std::string text;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof(major)) == 0) text = major.name;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof(sub)) == 0) {
    text += text.empty() ? "" : ", ";
    text += sub.name;
  }
  return text;
}

int SubtypeFor(SampleFormat format) {
  switch (format) {
    case SampleFormat::Pcm16: return SF_FORMAT_PCM_16;
    case SampleFormat::Pcm24: return SF_FORMAT_PCM_24;
    case SampleFormat::Pcm32: return SF_FORMAT_PCM_32;
    case SampleFormat::Float: return SF_FORMAT_FLOAT;
    case SampleFormat::Double: return SF_FORMAT_DOUBLE;
  }
  return SF_FORMAT_PCM_24;
}

}  // namespace

bool ReadAudioFile(const std::string& path, AudioBuffer& audio, AudioFileInfo& info,
                   std::string& error) {
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
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sfInfo);
  if (!file) {
    error = std::string("is not a WAV, AIFF or FLAC file, or is damaged (") + sf_strerror(nullptr) + ")";
    return false;
  }
  info.majorFormat = sfInfo.format & SF_FORMAT_TYPEMASK;
  info.subtype = sfInfo.format & SF_FORMAT_SUBMASK;
  info.description = DescribeFormat(sfInfo.format);
  if (info.majorFormat != SF_FORMAT_WAV && info.majorFormat != SF_FORMAT_AIFF &&
      info.majorFormat != SF_FORMAT_FLAC && info.majorFormat != SF_FORMAT_WAVEX &&
      info.majorFormat != SF_FORMAT_RF64) {
    error = "is in an unsupported format (" + info.description + "); use WAV, AIFF or FLAC";
    sf_close(file);
    return false;
  }
  if (sfInfo.channels < 1 || sfInfo.channels > 2) {
    error = "has " + std::to_string(sfInfo.channels) +
            " channels; only mono and stereo files can be rendered";
    sf_close(file);
    return false;
  }
  if (sfInfo.samplerate <= 0) {
    error = "has no valid sample rate";
    sf_close(file);
    return false;
  }
  if (sfInfo.frames <= 0) {
    error = "contains no audio";
    sf_close(file);
    return false;
  }
  const size_t frames = static_cast<size_t>(sfInfo.frames);
  const int channels = sfInfo.channels;
  audio.sampleRate = sfInfo.samplerate;
  audio.Resize(channels, frames);
  std::vector<double> chunk(static_cast<size_t>(channels) * 8192);
  size_t done = 0;
  while (done < frames) {
    sf_count_t want = static_cast<sf_count_t>(std::min<size_t>(8192, frames - done));
    sf_count_t got = sf_readf_double(file, chunk.data(), want);
    if (got <= 0) break;
    for (sf_count_t n = 0; n < got; ++n) {
      for (int c = 0; c < channels; ++c) {
        audio.channels[static_cast<size_t>(c)][done + static_cast<size_t>(n)] =
            chunk[static_cast<size_t>(n) * static_cast<size_t>(channels) + static_cast<size_t>(c)];
      }
    }
    done += static_cast<size_t>(got);
  }
  sf_close(file);
  if (done != frames) {
    error = "is truncated: " + std::to_string(done) + " of " + std::to_string(frames) +
            " frames could be read";
    return false;
  }
  return true;
}

bool SampleFormatForSubtype(int subtype, SampleFormat& format) {
  switch (subtype) {
    case SF_FORMAT_PCM_16: format = SampleFormat::Pcm16; return true;
    case SF_FORMAT_PCM_24: format = SampleFormat::Pcm24; return true;
    case SF_FORMAT_PCM_32: format = SampleFormat::Pcm32; return true;
    case SF_FORMAT_FLOAT: format = SampleFormat::Float; return true;
    case SF_FORMAT_DOUBLE: format = SampleFormat::Double; return true;
    default: return false;
  }
}

bool ContainerHolds(int container, SampleFormat format) {
  if (container != SF_FORMAT_FLAC) return true;
  return format == SampleFormat::Pcm16 || format == SampleFormat::Pcm24;
}

bool ParseSampleFormat(const std::string& text, SampleFormat& format) {
  const std::string t = Lower(text);
  if (t == "pcm16" || t == "16") format = SampleFormat::Pcm16;
  else if (t == "pcm24" || t == "24") format = SampleFormat::Pcm24;
  else if (t == "pcm32" || t == "32") format = SampleFormat::Pcm32;
  else if (t == "float" || t == "float32") format = SampleFormat::Float;
  else if (t == "double" || t == "float64") format = SampleFormat::Double;
  else return false;
  return true;
}

const char* SampleFormatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::Pcm16: return "16-bit PCM";
    case SampleFormat::Pcm24: return "24-bit PCM";
    case SampleFormat::Pcm32: return "32-bit PCM";
    case SampleFormat::Float: return "32-bit float";
    case SampleFormat::Double: return "64-bit float";
  }
  return "?";
}

int ContainerForPath(const std::string& path) {
  size_t dot = path.find_last_of('.');
  size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "wav" || ext == "wave") return SF_FORMAT_WAV;
  if (ext == "aif" || ext == "aiff" || ext == "aifc") return SF_FORMAT_AIFF;
  if (ext == "flac") return SF_FORMAT_FLAC;
  return 0;
}

AudioFileWriter::~AudioFileWriter() { Abandon(); }

bool AudioFileWriter::Open(const std::string& path, int container, SampleFormat format,
                           int channels, double sampleRate, std::string& error) {
  Abandon();
  if (container == SF_FORMAT_FLAC &&
      (format == SampleFormat::Float || format == SampleFormat::Double ||
       format == SampleFormat::Pcm32)) {
    error = std::string("FLAC cannot hold ") + SampleFormatName(format) +
            " samples; use --sample-format pcm16 or pcm24";
    return false;
  }
  SF_INFO sfInfo;
  memset(&sfInfo, 0, sizeof(sfInfo));
  sfInfo.samplerate = static_cast<int>(sampleRate + 0.5);
  sfInfo.channels = channels;
  sfInfo.format = container | SubtypeFor(format);
  if (!sf_format_check(&sfInfo)) {
    error = std::string("the output format cannot hold ") + SampleFormatName(format) +
            " samples";
    return false;
  }
  path_ = path;
  tempPath_ = PendingPathFor(path);
  // Create the temporary file ourselves so a permission problem reads as one.
  SNDFILE* file = sf_open(tempPath_.c_str(), SFM_WRITE, &sfInfo);
  if (!file) {
    int savedErrno = errno;
    struct stat status;
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    if (stat(dir.c_str(), &status) != 0) {
      error = "cannot write '" + path + "': folder '" + dir + "' does not exist";
    } else if (access(dir.c_str(), W_OK) != 0) {
      error = "cannot write '" + path + "': folder '" + dir + "' is not writable";
    } else {
      error = "cannot write '" + path + "': " +
              (savedErrno ? std::string(strerror(savedErrno)) : sf_strerror(nullptr));
    }
    unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  TrackPendingFile(tempPath_);
  // Float files keep values beyond full scale; integer files clip them.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  file_ = file;
  channelCount_ = channels;
  return true;
}

bool AudioFileWriter::Write(const double* const* channels, size_t frames, std::string& error) {
  if (!file_) {
    error = "output file is not open";
    return false;
  }
  const size_t count = static_cast<size_t>(channelCount_);
  interleaved_.resize(frames * count);
  for (size_t n = 0; n < frames; ++n) {
    for (size_t c = 0; c < count; ++c) interleaved_[n * count + c] = channels[c][n];
  }
  sf_count_t written = sf_writef_double(static_cast<SNDFILE*>(file_), interleaved_.data(),
                                        static_cast<sf_count_t>(frames));
  if (written != static_cast<sf_count_t>(frames)) {
    error = "cannot write '" + path_ + "': " + sf_strerror(static_cast<SNDFILE*>(file_));
    return false;
  }
  return true;
}

bool AudioFileWriter::Commit(std::string& error) {
  if (!file_) {
    error = "output file is not open";
    return false;
  }
  int closeResult = sf_close(static_cast<SNDFILE*>(file_));
  file_ = nullptr;
  if (closeResult != 0) {
    error = "cannot write '" + path_ + "': " + sf_error_number(closeResult);
    Abandon();
    return false;
  }
  bool ok = CommitPendingFile(tempPath_, path_, error);
  tempPath_.clear();
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
}

bool WriteAudioFile(const std::string& path, const AudioBuffer& audio, SampleFormat format,
                    std::string& error) {
  int container = ContainerForPath(path);
  if (!container) {
    error = "cannot write '" + path + "': use a .wav, .aif/.aiff or .flac file name";
    return false;
  }
  AudioFileWriter writer;
  if (!writer.Open(path, container, format, audio.ChannelCount(), audio.sampleRate, error)) {
    return false;
  }
  std::vector<const double*> pointers;
  for (const auto& channel : audio.channels) pointers.push_back(channel.data());
  if (!writer.Write(pointers.data(), audio.FrameCount(), error)) return false;
  return writer.Commit(error);
}

}  // namespace render
