#include "RiffInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace render {
namespace riff {

uint32_t Le32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t put = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

uint64_t Le64(const uint8_t* at) { return Le32(at) | static_cast<uint64_t>(Le32(at + 4)) << 32; }

uint32_t Be32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
         static_cast<uint32_t>(at[2]) << 8 | at[3];
}

void PutBe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

bool ReadAllAt(int fd, uint8_t* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t got = pread(fd, data, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    data += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace riff

namespace {

using riff::Le32;
using riff::Le64;
using riff::PutLe32;
using riff::ReadAllAt;
using riff::WriteAllAt;

bool IsRf64(const uint8_t* id) { return !memcmp(id, "RF64", 4) || !memcmp(id, "BW64", 4); }

// A chunk id is four printable ASCII characters.
bool PlainId(const uint8_t* id) {
  for (int i = 0; i < 4; ++i)
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  return true;
}

// Walking more chunks than this means a file made to keep us walking.
constexpr int kMaxChunks = 100000;

}  // namespace

bool ParseInfoList(const uint8_t* data, size_t size, std::vector<InfoTag>& tags) {
  size_t at = 0;
  while (size - at >= 8) {
    const uint8_t* entry = data + at;
    const uint32_t length = Le32(entry + 4);
    if (!PlainId(entry) || length > size - at - 8) return false;
    const char* text = reinterpret_cast<const char*>(entry + 8);
    tags.push_back({std::string(reinterpret_cast<const char*>(entry), 4), std::string(text, strnlen(text, length))});
    at += 8 + static_cast<size_t>(length);
    if (length & 1) {
      if (at == size) break;  // a last entry without its pad byte
      ++at;
    }
  }
  // Fewer than eight bytes left: padding, or nothing.
  return true;
}

InfoRead ReadInfoTags(const ReadAt& read, uint64_t fileSize, std::vector<InfoTag>& tags) {
  uint8_t head[12];
  if (fileSize < 12 || !read(0, head, 12) || (memcmp(head, "RIFF", 4) && !IsRf64(head)) ||
      memcmp(head + 8, "WAVE", 4)) {
    return InfoRead::kNotWave;
  }
  const bool rf64 = IsRf64(head);
  uint64_t dataSize64 = 0;
  uint64_t at = 12;
  for (int chunks = 0; chunks < kMaxChunks && fileSize - at >= 8; ++chunks) {
    uint8_t chunk[8];
    if (!read(at, chunk, 8)) return InfoRead::kDamaged;
    uint64_t size = Le32(chunk + 4);
    if (rf64 && !memcmp(chunk, "ds64", 4) && size >= 16 && size <= fileSize - at - 8) {
      uint8_t sizes[16];
      if (!read(at + 8, sizes, 16)) return InfoRead::kDamaged;
      dataSize64 = Le64(sizes + 8);
    } else if (rf64 && !memcmp(chunk, "data", 4) && size == 0xFFFFFFFFu) {
      size = dataSize64;
    } else if (!memcmp(chunk, "LIST", 4) && size >= 4 && size <= fileSize - at - 8) {
      uint8_t type[4];
      if (!read(at + 8, type, 4)) return InfoRead::kDamaged;
      if (!memcmp(type, "INFO", 4)) {
        if (size > kMaxInfoListBytes) return InfoRead::kDamaged;
        std::vector<uint8_t> list(static_cast<size_t>(size) - 4);
        if (!list.empty() &&
            (!read(at + 12, list.data(), list.size()) || !ParseInfoList(list.data(), list.size(), tags))) {
          return InfoRead::kDamaged;
        }
      }
    }
    // Past the end (a cut-off file): the walk is over.
    if (size > fileSize - at - 8) break;
    at += 8 + size + (size & 1);
    if (at > fileSize) break;
  }
  return InfoRead::kRead;
}

InfoRead ReadInfoTagsOf(int fd, std::vector<InfoTag>& tags) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return InfoRead::kNotWave;
  const ReadAt read = [fd](uint64_t offset, void* buffer, size_t size) {
    return ReadAllAt(fd, static_cast<uint8_t*>(buffer), size, offset);
  };
  return ReadInfoTags(read, static_cast<uint64_t>(status.st_size), tags);
}

std::vector<uint8_t> InfoListChunk(const std::vector<InfoTag>& tags) {
  std::vector<uint8_t> chunk = {'L', 'I', 'S', 'T', 0, 0, 0, 0, 'I', 'N', 'F', 'O'};
  for (const InfoTag& tag : tags) {
    const size_t at = chunk.size();
    const uint32_t length = static_cast<uint32_t>(tag.text.size() + 1);  // with its NUL
    chunk.resize(at + 8);
    memcpy(&chunk[at], tag.id.data(), std::min<size_t>(tag.id.size(), 4));
    PutLe32(&chunk[at + 4], length);
    chunk.insert(chunk.end(), tag.text.begin(), tag.text.end());
    chunk.push_back(0);
    if (length & 1) chunk.push_back(0);
  }
  PutLe32(&chunk[4], static_cast<uint32_t>(chunk.size() - 8));
  return chunk;
}

bool AppendInfoTags(int fd, const std::vector<InfoTag>& tags) {
  struct stat status;
  uint8_t head[28];
  errno = 0;
  if (fstat(fd, &status) != 0) return false;
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (size < 12 || !ReadAllAt(fd, head, 12, 0) || memcmp(head + 8, "WAVE", 4)) return false;
  const bool rf64 = IsRf64(head);
  if (!rf64 && memcmp(head, "RIFF", 4)) return false;
  if (rf64 && (size < 28 || !ReadAllAt(fd, head, 28, 0) || memcmp(head + 12, "ds64", 4) || Le32(head + 16) < 24)) {
    errno = 0;
    return false;
  }
  // Chunks start at even offsets.
  std::vector<uint8_t> bytes(size & 1, 0);
  const std::vector<uint8_t> chunk = InfoListChunk(tags);
  bytes.insert(bytes.end(), chunk.begin(), chunk.end());
  const uint64_t riffSize = size + bytes.size() - 8;
  if (!rf64 && riffSize > 0xFFFFFFFFu) return false;  // no room in a plain RIFF file
  if (!WriteAllAt(fd, bytes.data(), bytes.size(), size)) return false;
  uint8_t field[8];
  PutLe32(field, static_cast<uint32_t>(riffSize));
  PutLe32(field + 4, static_cast<uint32_t>(riffSize >> 32));
  return rf64 ? WriteAllAt(fd, field, 8, 20) : WriteAllAt(fd, field, 4, 4);
}

}  // namespace render
