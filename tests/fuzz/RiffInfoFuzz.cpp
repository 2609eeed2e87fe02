// WAV files' LIST/INFO tags as kestrune-render reads them from an input and
// appends them to an output.
//
// Input: the file's bytes.
// Checks: the reader never asks for bytes past the end; every tag has a
// four-character id and a text without NUL; tags written as a chunk read
// back as they were; appending them to a WAVE file adds exactly that chunk
// (after a pad byte where needed) and keeps the RIFF or RF64 size equal to
// the length.
#include <sys/mman.h>
#include <unistd.h>

#include "FuzzSupport.h"
#include "RiffInfo.h"

namespace {

bool SameTags(const std::vector<render::InfoTag>& a, const std::vector<render::InfoTag>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].id != b[i].id || a[i].text != b[i].text) return false;
  return true;
}

uint64_t Le(const std::vector<uint8_t>& bytes, size_t at, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<size_t>(i)];
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto readAt = [&](uint64_t offset, void* buffer, size_t count) {
    FUZZ_REQUIRE(offset <= size && count <= size - offset);
    memcpy(buffer, data + offset, count);
    return true;
  };
  std::vector<render::InfoTag> tags;
  const render::InfoRead read = render::ReadInfoTags(readAt, size, tags);
  if (read == render::InfoRead::kNotWave) FUZZ_REQUIRE(tags.empty());
  for (const render::InfoTag& tag : tags) {
    FUZZ_REQUIRE(tag.id.size() == 4);
    FUZZ_REQUIRE(tag.text.find('\0') == std::string::npos);
  }
  const std::vector<uint8_t> chunk = render::InfoListChunk(tags);
  FUZZ_REQUIRE(chunk.size() % 2 == 0 && Le(chunk, 4, 4) == chunk.size() - 8);
  std::vector<render::InfoTag> again;
  FUZZ_REQUIRE(render::ParseInfoList(chunk.data() + 12, chunk.size() - 12, again));
  FUZZ_REQUIRE(SameTags(again, tags));
  // The file itself, extended as an output is.
  if (read != render::InfoRead::kRead || size > (1 << 16)) return 0;
  const int fd = memfd_create("wave", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) == static_cast<ssize_t>(size) && render::AppendInfoTags(fd, tags)) {
    std::vector<uint8_t> grown(size + (size & 1) + chunk.size() + 1);
    const ssize_t got = pread(fd, grown.data(), grown.size(), 0);
    FUZZ_REQUIRE(got == static_cast<ssize_t>(grown.size() - 1));
    grown.pop_back();
    const bool rf64 = memcmp(data, "RIFF", 4) != 0;
    const size_t sizeField = rf64 ? 20 : 4, sizeBytes = rf64 ? 8 : 4;
    for (size_t i = 0; i < size; ++i) FUZZ_REQUIRE(grown[i] == data[i] || (i >= sizeField && i < sizeField + sizeBytes));
    FUZZ_REQUIRE(memcmp(grown.data() + grown.size() - chunk.size(), chunk.data(), chunk.size()) == 0);
    FUZZ_REQUIRE(Le(grown, sizeField, static_cast<int>(sizeBytes)) == grown.size() - 8);
  }
  close(fd);
  return 0;
}
