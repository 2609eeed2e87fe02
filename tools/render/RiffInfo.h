// The text tags of a WAV file's LIST/INFO chunks (INAM, IART, ITCH, ISRC,
// ...). libsndfile carries only the tags it has a string type for; these
// functions read all of them and append the others to a finished output.
// The bytes come from files a user hands over: every size is checked
// against the room there is, and a damaged chunk gives nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace render {

// Little- and big-endian fields (RIFF and AIFF) and whole reads and
// writes at an offset (retried on EINTR), for the readers and writers of
// audio file chunks here, in RiffMarkers.h and in AudioReader.h.
namespace riff {
uint32_t Le32(const uint8_t* at);
uint64_t Le64(const uint8_t* at);
uint32_t Be32(const uint8_t* at);
void PutLe32(uint8_t* at, uint32_t value);
void PutBe32(uint8_t* at, uint32_t value);
// False with errno set, or 0 at the end of the file.
bool ReadAllAt(int fd, uint8_t* data, size_t size, uint64_t offset);
bool WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset);
}  // namespace riff

struct InfoTag {
  std::string id;    // four characters, e.g. "ITCH"
  std::string text;  // up to the first NUL
};

// A LIST chunk larger than this is not read (tags are short texts).
constexpr uint32_t kMaxInfoListBytes = 1 << 20;

// Reads `size` bytes at `offset` into `buffer`; false if it cannot.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t size)>;

// The tags of every LIST/INFO chunk of a RIFF, RF64 or BW64 WAVE file of
// `fileSize` bytes, in file order; on damage, those read before it.
enum class InfoRead { kNotWave, kDamaged, kRead };
InfoRead ReadInfoTags(const ReadAt& read, uint64_t fileSize, std::vector<InfoTag>& tags);

// The same for the regular file open in `fd`; kNotWave for anything else
// (a pipe, a device).
InfoRead ReadInfoTagsOf(int fd, std::vector<InfoTag>& tags);

// The tags of one LIST chunk's INFO payload (after "INFO"). False when an
// entry runs past the end.
bool ParseInfoList(const uint8_t* data, size_t size, std::vector<InfoTag>& tags);

// A LIST/INFO chunk holding `tags` (each id four characters), padded to an
// even size.
std::vector<uint8_t> InfoListChunk(const std::vector<InfoTag>& tags);

// Appends `tags` as a LIST/INFO chunk to the WAVE file open in `fd` (read
// and write) and grows its RIFF (or RF64) size to match. False with errno
// set, or with errno 0 when the file is not a WAVE file this can extend or
// a plain RIFF file has no room left.
bool AppendInfoTags(int fd, const std::vector<InfoTag>& tags);

}  // namespace render
