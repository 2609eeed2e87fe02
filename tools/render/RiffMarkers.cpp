#include "RiffMarkers.h"

#include "RiffInfo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

namespace render {
namespace {

constexpr size_t kCuePointBytes = 24;  // id, position, chunk, chunk start, block start, sample offset
constexpr size_t kSampleOffsetAt = 20;

using riff::Le32;
using riff::PutLe32;
using riff::ReadAllAt;
using riff::WriteAllAt;

// Calls `each(at, size, length)` for every sub-chunk of an adtl payload
// (its offset, its size with the pad byte, its length field); false when
// one runs past the end. Fewer than eight bytes at the end are padding.
template <typename Each>
bool ForEachSubChunk(const std::vector<uint8_t>& adtl, Each each) {
  if (adtl.size() < 4 || memcmp(adtl.data(), "adtl", 4)) return false;
  size_t at = 4;
  while (adtl.size() - at >= 8) {
    const uint32_t length = Le32(&adtl[at + 4]);
    if (length > adtl.size() - at - 8) return false;
    const size_t whole = std::min<size_t>(8 + static_cast<size_t>(length) + (length & 1), adtl.size() - at);
    each(at, whole, length);
    at += whole;
  }
  return true;
}

// Writes chunk `id` with `payload` over one of `oldSize` bytes at `at`;
// the room it gives up becomes a JUNK chunk (or zero padding inside an
// adtl list, where it is too small for one).
bool RewriteChunk(int fd, uint64_t at, uint32_t oldSize, const char* id, std::vector<uint8_t> payload) {
  const size_t oldWhole = 8 + static_cast<size_t>(oldSize) + (oldSize & 1);
  if (payload.size() & 1) payload.push_back(0);
  if (8 + payload.size() > oldWhole) return false;
  size_t freed = oldWhole - 8 - payload.size();
  if (freed > 0 && freed < 8) {
    payload.resize(payload.size() + freed, 0);
    freed = 0;
  }
  std::vector<uint8_t> bytes(8);
  memcpy(bytes.data(), id, 4);
  PutLe32(&bytes[4], static_cast<uint32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  if (freed > 0) {
    const size_t junk = bytes.size();
    bytes.resize(junk + freed, 0);
    memcpy(&bytes[junk], "JUNK", 4);
    PutLe32(&bytes[junk + 4], static_cast<uint32_t>(freed - 8));
  }
  return WriteAllAt(fd, bytes.data(), bytes.size(), at);
}

}  // namespace

bool IsWholeAdtl(const std::vector<uint8_t>& adtl) {
  return ForEachSubChunk(adtl, [](size_t, size_t, uint32_t) {});
}

bool KeepMarkersWithin(uint64_t frames, std::vector<uint8_t>& cue, std::vector<uint8_t>& adtl) {
  if (cue.size() < 4) return false;
  const uint32_t count = Le32(cue.data());
  if (count > (cue.size() - 4) / kCuePointBytes) return false;
  std::vector<uint8_t> keptCue(4);
  std::map<uint32_t, uint32_t> keptStart;  // id -> sample offset
  std::set<uint32_t> dropped;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* point = &cue[4 + i * kCuePointBytes];
    const uint32_t id = Le32(point);
    const uint32_t start = Le32(point + kSampleOffsetAt);
    if (start > frames) {
      dropped.insert(id);
      continue;
    }
    keptStart[id] = start;
    keptCue.insert(keptCue.end(), point, point + kCuePointBytes);
  }
  PutLe32(keptCue.data(), static_cast<uint32_t>((keptCue.size() - 4) / kCuePointBytes));
  keptCue.insert(keptCue.end(), cue.begin() + static_cast<long>(4 + count * kCuePointBytes), cue.end());
  if (adtl.empty()) {
    cue.swap(keptCue);
    return true;
  }
  std::vector<uint8_t> keptAdtl(adtl.begin(), adtl.begin() + 4);
  size_t end = 4;
  const bool whole = ForEachSubChunk(adtl, [&](size_t at, size_t size, uint32_t length) {
    end = at + size;
    const uint8_t* sub = &adtl[at];
    const bool text = !memcmp(sub, "labl", 4) || !memcmp(sub, "note", 4) || !memcmp(sub, "ltxt", 4);
    if (text && length >= 4 && dropped.count(Le32(sub + 8))) return;
    const size_t from = keptAdtl.size();
    keptAdtl.insert(keptAdtl.end(), sub, sub + size);
    // A region: its length in frames after the point's own frame.
    if (!memcmp(sub, "ltxt", 4) && length >= 8) {
      const auto start = keptStart.find(Le32(sub + 8));
      if (start == keptStart.end()) return;
      const uint64_t room = frames - start->second;
      if (Le32(sub + 12) > room) PutLe32(&keptAdtl[from + 12], static_cast<uint32_t>(room));
    }
  });
  if (!whole) return false;
  keptAdtl.insert(keptAdtl.end(), adtl.begin() + static_cast<long>(end), adtl.end());
  cue.swap(keptCue);
  adtl.swap(keptAdtl);
  return true;
}

bool KeepFileMarkersWithin(int fd, uint64_t frames) {
  struct stat status;
  uint8_t head[12];
  if (fstat(fd, &status) != 0) return false;
  const uint64_t fileSize = static_cast<uint64_t>(status.st_size);
  errno = 0;
  if (fileSize < 12 || !ReadAllAt(fd, head, 12, 0)) return false;
  if (memcmp(head, "RIFF", 4) || memcmp(head + 8, "WAVE", 4)) return true;  // RF64 holds no cue chunk
  // The chunks before the audio, as libsndfile wrote them.
  uint64_t cueAt = 0, adtlAt = 0;
  uint32_t cueSize = 0, adtlSize = 0;
  uint64_t at = 12;
  for (int chunks = 0; chunks < 1000 && fileSize - at >= 8; ++chunks) {
    uint8_t chunk[12];
    if (!ReadAllAt(fd, chunk, 8, at)) return false;
    const uint32_t size = Le32(chunk + 4);
    if (!memcmp(chunk, "data", 4) || size > fileSize - at - 8) break;
    if (!memcmp(chunk, "cue ", 4)) {
      cueAt = at;
      cueSize = size;
    } else if (!memcmp(chunk, "LIST", 4) && size >= 4) {
      if (!ReadAllAt(fd, chunk + 8, 4, at + 8)) return false;
      if (!memcmp(chunk + 8, "adtl", 4)) {
        adtlAt = at;
        adtlSize = size;
      }
    }
    at += 8 + static_cast<uint64_t>(size) + (size & 1);
  }
  if (!cueAt) return true;
  constexpr uint32_t kMaxMarkerChunk = 16u << 20;
  if (cueSize > kMaxMarkerChunk || adtlSize > kMaxMarkerChunk) return false;
  std::vector<uint8_t> cue(cueSize), adtl(adtlSize);
  if (!ReadAllAt(fd, cue.data(), cue.size(), cueAt + 8) ||
      (adtlAt && !ReadAllAt(fd, adtl.data(), adtl.size(), adtlAt + 8))) {
    return false;
  }
  const std::vector<uint8_t> cueBefore = cue, adtlBefore = adtl;
  errno = 0;
  if (!KeepMarkersWithin(frames, cue, adtl)) return false;
  if (cue != cueBefore && !RewriteChunk(fd, cueAt, cueSize, "cue ", cue)) return false;
  if (adtl != adtlBefore && !RewriteChunk(fd, adtlAt, adtlSize, "LIST", adtl)) return false;
  return true;
}

}  // namespace render
