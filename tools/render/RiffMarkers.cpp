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

using riff::Be32;
using riff::Le32;
using riff::PutBe32;
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

// The chunk layouts: RIFF counts sizes little-endian and fills with JUNK,
// AIFF big-endian and with the filler chunk of IFF, four spaces.
struct ChunkLayout {
  uint32_t (*size)(const uint8_t*);
  void (*putSize)(uint8_t*, uint32_t);
  const char* filler;
};
constexpr ChunkLayout kRiff{Le32, PutLe32, "JUNK"};
constexpr ChunkLayout kAiff{Be32, PutBe32, "    "};

// Writes chunk `id` with `payload` over one of `oldSize` bytes at `at`;
// the room it gives up becomes a filler chunk (or zero padding inside the
// chunk, where it is too small for one).
bool RewriteChunk(int fd, const ChunkLayout& layout, uint64_t at, uint32_t oldSize, const char* id,
                  std::vector<uint8_t> payload) {
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
  layout.putSize(&bytes[4], static_cast<uint32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  if (freed > 0) {
    const size_t filler = bytes.size();
    bytes.resize(filler + freed, 0);
    memcpy(&bytes[filler], layout.filler, 4);
    layout.putSize(&bytes[filler + 4], static_cast<uint32_t>(freed - 8));
  }
  return WriteAllAt(fd, bytes.data(), bytes.size(), at);
}

// The chunks a marker rewrite looks at, before the audio.
struct FoundChunk {
  uint64_t at = 0;  // 0: not there
  uint32_t size = 0;
};

// Walks the chunks of the file open in `fd` from offset 12 up to the
// audio chunk `audioId`, calling `each(id, at, size)`; false with errno set
// when reading fails.
template <typename Each>
bool WalkChunks(int fd, uint64_t fileSize, const ChunkLayout& layout, const char* audioId, Each each) {
  uint64_t at = 12;
  for (int chunks = 0; chunks < 1000 && fileSize - at >= 8; ++chunks) {
    uint8_t chunk[8];
    if (!ReadAllAt(fd, chunk, 8, at)) return false;
    const uint32_t size = layout.size(chunk + 4);
    if (!memcmp(chunk, audioId, 4) || size > fileSize - at - 8) break;
    if (!each(chunk, at, size)) return false;
    at += 8 + static_cast<uint64_t>(size) + (size & 1);
  }
  return true;
}

constexpr uint32_t kMaxMarkerChunk = 16u << 20;

// The file's length and its first 12 bytes (the container's id, size and
// type); false with errno set, or 0 when the file is shorter.
bool ReadHead(int fd, uint8_t (&head)[12], uint64_t& fileSize) {
  struct stat status;
  if (fstat(fd, &status) != 0) return false;
  fileSize = static_cast<uint64_t>(status.st_size);
  errno = 0;
  return fileSize >= 12 && ReadAllAt(fd, head, 12, 0);
}

bool ReadChunk(int fd, const FoundChunk& chunk, std::vector<uint8_t>& payload) {
  payload.resize(chunk.size);
  return !chunk.at || ReadAllAt(fd, payload.data(), payload.size(), chunk.at + 8);
}

// Calls `each(at, size, id, position)` for every marker of a MARK payload
// (its offset and size); false when one runs past the end.
template <typename Each>
bool ForEachMark(const std::vector<uint8_t>& mark, Each each) {
  if (mark.size() < 2) return false;
  const size_t count = static_cast<size_t>(mark[0]) << 8 | mark[1];
  size_t at = 2;
  for (size_t i = 0; i < count; ++i) {
    // id, position, then the name as a counted text padded to an even size.
    if (mark.size() - at < 7) return false;
    const size_t text = 1 + static_cast<size_t>(mark[at + 6]);
    const size_t size = 6 + text + (text & 1);
    if (size > mark.size() - at) return false;
    each(at, size, static_cast<uint32_t>(mark[at]) << 8 | mark[at + 1], Be32(&mark[at + 2]));
    at += size;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> AdtlOfNames(const std::vector<MarkerName>& names) {
  std::vector<uint8_t> adtl = {'a', 'd', 't', 'l'};
  for (const MarkerName& marker : names) {
    const std::string text = marker.name.substr(0, marker.name.find('\0'));
    if (text.empty()) continue;
    const size_t at = adtl.size();
    const uint32_t length = static_cast<uint32_t>(4 + text.size() + 1);
    adtl.resize(at + 8 + length + (length & 1), 0);
    memcpy(&adtl[at], "labl", 4);
    PutLe32(&adtl[at + 4], length);
    PutLe32(&adtl[at + 8], marker.id);
    memcpy(&adtl[at + 12], text.data(), text.size());
  }
  return adtl;
}

bool AdtlHoldsMoreThanNames(const std::vector<uint8_t>& adtl) {
  bool more = false;
  ForEachSubChunk(adtl, [&](size_t at, size_t, uint32_t) { more = more || memcmp(&adtl[at], "labl", 4) != 0; });
  return more;
}

bool KeepMarkMarkersWithin(uint64_t frames, std::vector<uint8_t>& mark) {
  std::vector<uint8_t> kept(2);
  size_t end = 2, keptCount = 0;
  const bool whole = ForEachMark(mark, [&](size_t at, size_t size, uint32_t, uint32_t position) {
    end = at + size;
    if (position > frames) return;
    ++keptCount;
    kept.insert(kept.end(), mark.begin() + static_cast<long>(at), mark.begin() + static_cast<long>(end));
  });
  if (!whole) return false;
  kept[0] = static_cast<uint8_t>(keptCount >> 8);
  kept[1] = static_cast<uint8_t>(keptCount);
  kept.insert(kept.end(), mark.begin() + static_cast<long>(end), mark.end());
  mark.swap(kept);
  return true;
}

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
  if (adtl.size() < 4) return false;
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
  uint8_t head[12];
  uint64_t fileSize = 0;
  if (!ReadHead(fd, head, fileSize)) return false;
  if (memcmp(head, "RIFF", 4) || memcmp(head + 8, "WAVE", 4)) return true;  // RF64 holds no cue chunk
  // The chunks before the audio, as libsndfile wrote them.
  FoundChunk cueChunk, adtlChunk;
  const bool walked = WalkChunks(fd, fileSize, kRiff, "data", [&](const uint8_t* chunk, uint64_t at, uint32_t size) {
    if (!memcmp(chunk, "cue ", 4)) {
      cueChunk = {at, size};
    } else if (!memcmp(chunk, "LIST", 4) && size >= 4) {
      uint8_t type[4];
      if (!ReadAllAt(fd, type, 4, at + 8)) return false;
      if (!memcmp(type, "adtl", 4)) adtlChunk = {at, size};
    }
    return true;
  });
  if (!walked) return false;
  if (!cueChunk.at) return true;
  if (cueChunk.size > kMaxMarkerChunk || adtlChunk.size > kMaxMarkerChunk) return false;
  std::vector<uint8_t> cue, adtl;
  if (!ReadChunk(fd, cueChunk, cue) || !ReadChunk(fd, adtlChunk, adtl)) return false;
  const std::vector<uint8_t> cueBefore = cue, adtlBefore = adtl;
  errno = 0;
  if (!KeepMarkersWithin(frames, cue, adtl)) return false;
  if (cue != cueBefore && !RewriteChunk(fd, kRiff, cueChunk.at, cueChunk.size, "cue ", cue)) return false;
  if (adtl != adtlBefore && !RewriteChunk(fd, kRiff, adtlChunk.at, adtlChunk.size, "LIST", adtl)) return false;
  return true;
}

bool KeepAiffFileMarkersWithin(int fd, uint64_t frames) {
  uint8_t head[12];
  uint64_t fileSize = 0;
  if (!ReadHead(fd, head, fileSize)) return false;
  if (memcmp(head, "FORM", 4) || (memcmp(head + 8, "AIFF", 4) && memcmp(head + 8, "AIFC", 4))) return true;
  FoundChunk markChunk;
  const bool walked = WalkChunks(fd, fileSize, kAiff, "SSND", [&](const uint8_t* chunk, uint64_t at, uint32_t size) {
    if (!memcmp(chunk, "MARK", 4)) markChunk = {at, size};
    return true;
  });
  if (!walked) return false;
  if (!markChunk.at) return true;
  if (markChunk.size > kMaxMarkerChunk) return false;
  std::vector<uint8_t> mark;
  if (!ReadChunk(fd, markChunk, mark)) return false;
  const std::vector<uint8_t> markBefore = mark;
  errno = 0;
  if (!KeepMarkMarkersWithin(frames, mark)) return false;
  return mark == markBefore || RewriteChunk(fd, kAiff, markChunk.at, markChunk.size, "MARK", mark);
}

}  // namespace render
