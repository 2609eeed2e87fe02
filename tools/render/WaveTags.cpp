#include "WaveTags.h"

#include <FLAC/format.h>
#include <FLAC/metadata.h>
#include <sndfile.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace render {
namespace {

// Taggers' names for the LIST/INFO ids libsndfile leaves to us.
const std::pair<const char*, const char*> kInfoFields[] = {
    {"ISRC", "ISRC"},     {"ITCH", "ENCODED-BY"}, {"IENG", "ENGINEER"}, {"ICMS", "COMMISSIONED"},
    {"IKEY", "KEYWORDS"}, {"ISBJ", "SUBJECT"},    {"ILNG", "LANGUAGE"}, {"IMUS", "COMPOSER"},
    {"ILYC", "LYRICS"},
};

// A text as UTF-8: INFO and bext texts are mostly Latin-1, which is read as
// such where it is not UTF-8 already.
std::string AsUtf8(const std::string& text) {
  if (FLAC__format_vorbiscomment_entry_value_is_legal(reinterpret_cast<const FLAC__byte*>(text.data()),
                                                      static_cast<uint32_t>(text.size()))) {
    return text;
  }
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// A fixed-size text field of the broadcast-wave chunk, up to its first NUL.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace

bool LibsndfileReadsInfoTag(const std::string& id) {
  for (const char* own : {"INAM", "ICOP", "ISFT", "IART", "ICMT", "ICRD", "IPRD", "ITRK", "IGNR"}) {
    if (id == own) return true;
  }
  return false;
}

std::string VorbisFieldForKind(int kind) {
  for (const auto& [field, own] : kLibsndfileFlacFields) {
    if (own == kind) return Upper(field);
  }
  return std::string();
}

std::string VorbisFieldForInfoTag(const std::string& id) {
  for (const auto& [info, field] : kInfoFields) {
    if (id == info) return field;
  }
  return std::string();
}

std::shared_ptr<const FlacTags> FlacTagsFromWave(const AudioFileInfo& info, const std::vector<InfoTag>& infoTags,
                                                 std::vector<std::string>& leftOut) {
  auto tags = std::make_shared<FlacTags>();
  tags->comment = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (!tags->comment) return nullptr;
  bool ok = true;
  auto add = [&](const std::string& field, const std::string& value) {
    if (value.empty()) return;
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    ok = ok && FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, field.c_str(),
                                                                               AsUtf8(value).c_str()) &&
         FLAC__metadata_object_vorbiscomment_append_comment(tags->comment, entry, false);
  };
  for (const auto& [kind, text] : info.strings) {
    const std::string field = VorbisFieldForKind(kind);
    if (!field.empty()) add(field, text);
  }
  for (const InfoTag& tag : infoTags) {
    if (LibsndfileReadsInfoTag(tag.id) || tag.text.empty()) continue;
    const std::string field = VorbisFieldForInfoTag(tag.id);
    if (field.empty()) {
      const std::string name = "INFO " + tag.id;
      if (std::find(leftOut.begin(), leftOut.end(), name) == leftOut.end()) leftOut.push_back(name);
    } else {
      add(field, tag.text);
    }
  }
  if (info.broadcastInfo.size() >= sizeof(SF_BROADCAST_INFO)) {
    SF_BROADCAST_INFO bext;
    memcpy(&bext, info.broadcastInfo.data(), sizeof(bext));
    add("DESCRIPTION", FieldText(bext.description));
    add("ORIGINATOR", FieldText(bext.originator));
    add("ORIGINATOR_REFERENCE", FieldText(bext.originator_reference));
    add("ORIGINATION_DATE", FieldText(bext.origination_date));
    add("ORIGINATION_TIME", FieldText(bext.origination_time));
    const uint64_t timeReference = static_cast<uint64_t>(bext.time_reference_high) << 32 | bext.time_reference_low;
    if (timeReference > 0) add("TIME_REFERENCE", std::to_string(timeReference));
    // The coding history runs on past the fixed part.
    const size_t historyAt = offsetof(SF_BROADCAST_INFO, coding_history);
    const size_t historySize = std::min<size_t>(bext.coding_history_size, info.broadcastInfo.size() - historyAt);
    const char* history = reinterpret_cast<const char*>(info.broadcastInfo.data() + historyAt);
    add("CODING_HISTORY", std::string(history, strnlen(history, historySize)));
    if (std::any_of(std::begin(bext.umid), std::end(bext.umid), [](char c) { return c != 0; })) {
      leftOut.push_back("bext UMID");
    }
  }
  return ok ? tags : nullptr;
}

}  // namespace render
