// VST2 chunks handed to effSetChunk: foreign bytes, or the plug-in's own
// chunk handed straight back (hosts copy and reset presets that way).
//
// Input: one mode byte, then the chunk bytes.
//   mode >> 4   the effSetChunk index (0 bank, anything else a program)
//   mode & 2    hand back the plug-in's own chunk pointer instead of the bytes
//   mode & 4      ... its program chunk (else its bank chunk)
//   mode & 8      ... with its size cut to the next 32-bit input word (modulo)
// Checks: a refused chunk changes nothing; the plug-in's own chunk, handed
// back whole, is accepted and changes nothing; after an accepted chunk every
// value is normalized and save -> load -> save is stable.
#include "Vst2Session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::HostInput in(data, size);
  const uint8_t mode = in.Take<uint8_t>();
  const int32_t index = mode >> 4;
  const bool ownChunk = mode & 2;

  fuzz::Vst2Session session;
  PluginInstance& plug = session.Plug();
  const fuzz::Vst2Snapshot before = session.Snapshot();

  intptr_t answer;
  bool unchangedExpected = false;
  if (ownChunk) {
    const int32_t ownIndex = (mode & 4) ? 1 : 0;
    void* own = nullptr;
    intptr_t ownSize = plug.Dispatch(vst2::effGetChunk, ownIndex, 0, &own);
    if (ownSize <= 0 || !own) return 0;
    intptr_t handed = ownSize;
    if (mode & 8) handed = in.Take<uint32_t>() % (ownSize + 1);
    unchangedExpected = handed == ownSize && (ownIndex == 0) == (index == 0);
    answer = plug.Dispatch(vst2::effSetChunk, index, handed, own);
  } else {
    std::vector<uint8_t> chunk = in.Rest();
    answer = plug.Dispatch(vst2::effSetChunk, index, static_cast<intptr_t>(chunk.size()),
                           chunk.empty() ? nullptr : chunk.data());
  }

  if (answer != 1 || unchangedExpected) {
    FUZZ_REQUIRE(answer == 1 || answer == 0);
    if (unchangedExpected) FUZZ_REQUIRE(answer == 1);
    FUZZ_REQUIRE(session.Snapshot() == before);
  }
  session.CheckValues();
  session.CheckChunkRoundTrip(1);
  session.CheckChunkRoundTrip(0);
  session.ProcessBlock(fuzz::Vst2Session::kBlock, false);
  return 0;
}
