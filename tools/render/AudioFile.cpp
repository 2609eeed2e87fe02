#include "AudioFile.h"

#include <sndfile.h>

#include <algorithm>

namespace render {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

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

int IntegerBits(SampleFormat format) {
  switch (format) {
    case SampleFormat::Pcm16: return 16;
    case SampleFormat::Pcm24: return 24;
    case SampleFormat::Pcm32: return 32;
    default: return 0;
  }
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
  if (ext == "raw") return SF_FORMAT_RAW;  // headerless samples, as sox writes them
  return 0;
}

}  // namespace render
