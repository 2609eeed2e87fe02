// The markers of WAV and AIFF files as kestrune-render keeps them within an
// output's audio: a 'cue ' chunk with its LIST/adtl texts, and an AIFF
// MARK chunk, in memory and in a file.
//
// Input: the frame count (4 bytes), the size of the cue chunk's payload (2
// bytes), that payload (also read as a MARK payload), then the adtl payload.
// Checks: a damaged chunk is left as it was; otherwise every point kept is
// within the audio, no text names a point dropped, no region of a point
// kept runs past the end, the adtl list stays whole, nothing grows, and
// doing it again changes nothing. In a file, the chunks are rewritten in
// place: the file keeps its length and its audio chunk its offset.
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <set>

#include "FuzzSupport.h"
#include "RiffMarkers.h"

namespace {

uint32_t Le32(const uint8_t* at) { return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24; }
uint32_t Be32(const uint8_t* at) { return static_cast<uint32_t>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3]; }

void Put32(std::vector<uint8_t>& bytes, uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

void CheckCueAndAdtl(uint64_t frames, const std::vector<uint8_t>& cueBefore, const std::vector<uint8_t>& adtlBefore) {
  std::vector<uint8_t> cue = cueBefore, adtl = adtlBefore;
  if (!render::KeepMarkersWithin(frames, cue, adtl)) {
    FUZZ_REQUIRE(cue == cueBefore && adtl == adtlBefore);
    return;
  }
  FUZZ_REQUIRE(cue.size() >= 4 && cue.size() <= cueBefore.size() && adtl.size() <= adtlBefore.size());
  const uint32_t count = Le32(cue.data());
  FUZZ_REQUIRE(count <= (cue.size() - 4) / 24);
  std::map<uint32_t, uint32_t> kept;  // id -> frame
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* point = &cue[4 + 24 * static_cast<size_t>(i)];
    FUZZ_REQUIRE(Le32(point + 20) <= frames);
    kept.emplace(Le32(point), Le32(point + 20));
  }
  std::set<uint32_t> dropped;
  for (uint32_t i = 0; i < Le32(cueBefore.data()); ++i) {
    const uint8_t* point = &cueBefore[4 + 24 * static_cast<size_t>(i)];
    if (!kept.count(Le32(point))) dropped.insert(Le32(point));
  }
  if (!adtlBefore.empty()) {
    FUZZ_REQUIRE(render::IsWholeAdtl(adtl));
    for (size_t at = 4; adtl.size() - at >= 8;) {
      const uint8_t* sub = &adtl[at];
      const uint32_t length = Le32(sub + 4);
      const bool text = !memcmp(sub, "labl", 4) || !memcmp(sub, "note", 4) || !memcmp(sub, "ltxt", 4);
      if (text && length >= 4) FUZZ_REQUIRE(!dropped.count(Le32(sub + 8)));
      if (!memcmp(sub, "ltxt", 4) && length >= 8 && kept.count(Le32(sub + 8))) {
        FUZZ_REQUIRE(Le32(sub + 12) <= frames - kept[Le32(sub + 8)]);
      }
      at += std::min<size_t>(8 + static_cast<size_t>(length) + (length & 1), adtl.size() - at);
    }
  }
  std::vector<uint8_t> cueAgain = cue, adtlAgain = adtl;
  FUZZ_REQUIRE(render::KeepMarkersWithin(frames, cueAgain, adtlAgain));
  FUZZ_REQUIRE(cueAgain == cue && adtlAgain == adtl);
}

void CheckMark(uint64_t frames, const std::vector<uint8_t>& markBefore) {
  std::vector<uint8_t> mark = markBefore;
  if (!render::KeepMarkMarkersWithin(frames, mark)) {
    FUZZ_REQUIRE(mark == markBefore);
    return;
  }
  FUZZ_REQUIRE(mark.size() >= 2 && mark.size() <= markBefore.size());
  const size_t count = static_cast<size_t>(mark[0]) << 8 | mark[1];
  size_t at = 2;
  for (size_t i = 0; i < count; ++i) {
    FUZZ_REQUIRE(mark.size() - at >= 7);
    FUZZ_REQUIRE(Be32(&mark[at + 2]) <= frames);
    const size_t text = 1 + static_cast<size_t>(mark[at + 6]);
    at += 6 + text + (text & 1);
    FUZZ_REQUIRE(at <= mark.size());
  }
  std::vector<uint8_t> again = mark;
  FUZZ_REQUIRE(render::KeepMarkMarkersWithin(frames, again) && again == mark);
}

// The chunk ids and offsets of a file's top level, after its 12-byte head.
std::vector<std::pair<std::string, size_t>> Chunks(const std::vector<uint8_t>& file, bool bigEndian) {
  std::vector<std::pair<std::string, size_t>> chunks;
  for (size_t at = 12; file.size() - at >= 8;) {
    const uint32_t size = bigEndian ? Be32(&file[at + 4]) : Le32(&file[at + 4]);
    chunks.emplace_back(std::string(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 4)), at);
    at += std::min<size_t>(8 + static_cast<size_t>(size) + (size & 1), file.size() - at);
  }
  return chunks;
}

// A file of `chunks` (id, payload) ending with the audio chunk, rewritten
// by `keep`; its audio chunk must stay where it was and the file as long.
template <typename Keep>
void CheckFile(const char* head, const std::vector<std::pair<const char*, std::vector<uint8_t>>>& chunks, bool bigEndian,
               Keep keep) {
  std::vector<uint8_t> file(head, head + 12);
  for (const auto& [id, payload] : chunks) {
    file.insert(file.end(), id, id + 4);
    Put32(file, static_cast<uint32_t>(payload.size()), bigEndian);
    file.insert(file.end(), payload.begin(), payload.end());
    if (payload.size() & 1) file.push_back(0);
  }
  const int fd = memfd_create("markers", 0);
  if (fd < 0) return;
  if (write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size())) {
    keep(fd);
    std::vector<uint8_t> after(file.size() + 1);
    FUZZ_REQUIRE(pread(fd, after.data(), after.size(), 0) == static_cast<ssize_t>(file.size()));
    after.pop_back();
    const auto before = Chunks(file, bigEndian), now = Chunks(after, bigEndian);
    FUZZ_REQUIRE(!before.empty() && !now.empty() && before.back() == now.back());
    FUZZ_REQUIRE(std::equal(file.end() - static_cast<long>(chunks.back().second.size()), file.end(),
                            after.end() - static_cast<long>(chunks.back().second.size())));
  }
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 16)) return 0;
  fuzz::HostInput input(data, size);
  const uint64_t frames = input.Take<uint32_t>();
  const std::vector<uint8_t> cue = input.Bytes(input.Take<uint16_t>());
  const std::vector<uint8_t> adtl = input.Rest();
  CheckCueAndAdtl(frames, cue, adtl);
  CheckMark(frames, cue);
  const std::vector<uint8_t> audio = {1, 2, 3, 4};
  const char riffHead[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  CheckFile(riffHead, {{"cue ", cue}, {"LIST", adtl}, {"data", audio}}, false,
            [&](int fd) { render::KeepFileMarkersWithin(fd, frames); });
  const char aiffHead[] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'A', 'I', 'F', 'F'};
  CheckFile(aiffHead, {{"MARK", cue}, {"SSND", audio}}, true,
            [&](int fd) { render::KeepAiffFileMarkersWithin(fd, frames); });
  return 0;
}
