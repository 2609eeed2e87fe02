#include "AudioFile.h"

#include <FLAC/metadata.h>
#include <sndfile.h>
#include <strings.h>

#include <algorithm>
#include <set>

namespace render {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

const std::pair<const char*, int> kLibsndfileFlacFields[10] = {
    {"title", SF_STR_TITLE},   {"copyright", SF_STR_COPYRIGHT}, {"software", SF_STR_SOFTWARE},
    {"artist", SF_STR_ARTIST}, {"comment", SF_STR_COMMENT},     {"date", SF_STR_DATE},
    {"album", SF_STR_ALBUM},   {"license", SF_STR_LICENSE},     {"tracknumber", SF_STR_TRACKNUMBER},
    {"genre", SF_STR_GENRE}};

FlacTags::~FlacTags() {
  if (comment) FLAC__metadata_object_delete(comment);
  for (FLAC__StreamMetadata* picture : pictures) FLAC__metadata_object_delete(picture);
}

size_t FlacTags::TagsLibsndfileDrops() const {
  if (!comment) return 0;
  // libsndfile keeps one text of each kind: a second TITLE is dropped too.
  size_t dropped = 0;
  std::set<int> kept;
  for (FLAC__uint32 i = 0; i < comment->data.vorbis_comment.num_comments; ++i) {
    const auto& entry = comment->data.vorbis_comment.comments[i];
    const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
    const std::string field = text.substr(0, text.find('='));
    if (IsReplayGainField(field)) continue;  // dropped from every output, and said so on its own
    const auto known = std::find_if(std::begin(kLibsndfileFlacFields), std::end(kLibsndfileFlacFields),
                                    [&](const auto& each) { return strcasecmp(each.first, field.c_str()) == 0; });
    if (known == std::end(kLibsndfileFlacFields) || !kept.insert(known->second).second) ++dropped;
  }
  return dropped;
}

bool IsReplayGainField(const std::string& field) { return strncasecmp(field.c_str(), "REPLAYGAIN_", 11) == 0; }

std::vector<std::string> FlacTags::FieldsLibsndfileDrops(const std::vector<int>& refusedKinds) const {
  std::vector<std::string> names;
  if (!comment) return names;
  std::set<int> kept;
  auto add = [&](const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (FLAC__uint32 i = 0; i < comment->data.vorbis_comment.num_comments; ++i) {
    const auto& entry = comment->data.vorbis_comment.comments[i];
    const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
    std::string field = text.substr(0, text.find('='));
    std::transform(field.begin(), field.end(), field.begin(), ::toupper);
    if (IsReplayGainField(field)) continue;
    const auto known = std::find_if(std::begin(kLibsndfileFlacFields), std::end(kLibsndfileFlacFields),
                                    [&](const auto& each) { return strcasecmp(each.first, field.c_str()) == 0; });
    if (known == std::end(kLibsndfileFlacFields) ||
        std::find(refusedKinds.begin(), refusedKinds.end(), known->second) != refusedKinds.end()) {
      add(field);
    } else if (!kept.insert(known->second).second) {
      add(field + " (a second one)");
    }
  }
  return names;
}

bool FlacTags::HasReplayGain() const {
  if (!comment) return false;
  for (FLAC__uint32 i = 0; i < comment->data.vorbis_comment.num_comments; ++i) {
    const auto& entry = comment->data.vorbis_comment.comments[i];
    if (IsReplayGainField(std::string(reinterpret_cast<const char*>(entry.entry), entry.length))) return true;
  }
  return false;
}

std::shared_ptr<const FlacTags> ReadFlacTags(const std::string& path) {
  FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
  if (!chain) return nullptr;
  std::shared_ptr<FlacTags> tags;
  if (FLAC__metadata_chain_read(chain, path.c_str())) {
    tags = std::make_shared<FlacTags>();
    FLAC__Metadata_Iterator* at = FLAC__metadata_iterator_new();
    if (at) {
      FLAC__metadata_iterator_init(at, chain);
      do {
        const FLAC__StreamMetadata* block = FLAC__metadata_iterator_get_block(at);
        if (block->type == FLAC__METADATA_TYPE_VORBIS_COMMENT && !tags->comment) {
          tags->comment = FLAC__metadata_object_clone(block);
        } else if (block->type == FLAC__METADATA_TYPE_PICTURE) {
          if (FLAC__StreamMetadata* copy = FLAC__metadata_object_clone(block)) tags->pictures.push_back(copy);
        }
      } while (FLAC__metadata_iterator_next(at));
      FLAC__metadata_iterator_delete(at);
    }
  }
  FLAC__metadata_chain_delete(chain);
  return tags;
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
