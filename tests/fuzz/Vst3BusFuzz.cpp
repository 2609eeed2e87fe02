// VST3 bus arrangements: up to 16 host steps chosen by the input, each a
// setBusArrangements request, a bus (de)activation or a block of audio with
// buffers laid out as the plug-in's buses describe themselves.
//
// Input, per step: an operation byte (modulo 3), then
//   0 setBusArrangements: input count (0..3), output count (0..3), a flags
//     byte (1: null input array, 2: null output array), then one arrangement
//     byte per input and per output (see Arrangement)
//   1 activateBus: direction flag, bus index (signed byte), state flag
//   2 process: frames (0..64)
// Checks: a refused request leaves every bus as it was; an accepted one
// leaves the buses as requested; stereo in (and stereo sidechain) to stereo
// out is accepted again at the end, whatever came before; audio through the
// buses as described is finite.
#include "Vst3Session.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// One byte: 0xFF and a raw 64-bit arrangement follows; otherwise one of the
// layouts hosts offer.
SpeakerArrangement Arrangement(fuzz::HostInput& in) {
  static const SpeakerArrangement kCommon[] = {
      SpeakerArr::kStereo, SpeakerArr::kMono,    SpeakerArr::kEmpty, SpeakerArr::k30Cine,
      SpeakerArr::k31Cine, SpeakerArr::k40Music, SpeakerArr::k51,    SpeakerArr::k71Cine};
  uint8_t pick = in.Take<uint8_t>();
  if (pick == 0xFF) return in.Take<SpeakerArrangement>();
  return kCommon[pick % (sizeof kCommon / sizeof kCommon[0])];
}

void Request(fuzz::Vst3Session& session, fuzz::HostInput& in) {
  const int32 numIns = in.Choice(4), numOuts = in.Choice(4);
  const uint8_t flags = in.Take<uint8_t>();
  SpeakerArrangement ins[3] = {}, outs[3] = {};
  for (int32 i = 0; i < numIns; ++i) ins[i] = Arrangement(in);
  for (int32 i = 0; i < numOuts; ++i) outs[i] = Arrangement(in);

  const fuzz::Vst3Snapshot before = session.Snapshot();
  tresult result = session.Processor()->setBusArrangements(
      (flags & 1) ? nullptr : ins, numIns, (flags & 2) ? nullptr : outs, numOuts);
  if (result != kResultOk) {
    FUZZ_REQUIRE(session.Snapshot() == before);
    return;
  }
  for (int32 i = 0; i < numIns && !(flags & 1); ++i) {
    SpeakerArrangement now = ~SpeakerArrangement(0);
    FUZZ_REQUIRE(session.Processor()->getBusArrangement(kInput, i, now) == kResultOk);
    FUZZ_REQUIRE(now == ins[i]);
  }
  for (int32 i = 0; i < numOuts && !(flags & 2); ++i) {
    SpeakerArrangement now = ~SpeakerArrangement(0);
    FUZZ_REQUIRE(session.Processor()->getBusArrangement(kOutput, i, now) == kResultOk);
    FUZZ_REQUIRE(now == outs[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  fuzz::Vst3Session session;

  for (int step = 0; step < 16 && in.Left() > 0; ++step) {
    switch (in.Choice(3)) {
      case 0:
        Request(session, in);
        break;
      case 1: {
        BusDirection dir = in.Flag() ? kOutput : kInput;
        int32 index = in.Take<int8_t>();
        session.Component()->activateBus(kAudio, dir, index, in.Flag());
        break;
      }
      default: {
        int32 frames = in.Choice(fuzz::Vst3Session::kBlock + 1);
        session.Process(frames, kSample32, nullptr);
        break;
      }
    }
  }

  SpeakerArrangement stereo[2] = {SpeakerArr::kStereo, SpeakerArr::kStereo};
  SpeakerArrangement out = SpeakerArr::kStereo;
  const int32 inputBuses = session.Component()->getBusCount(kAudio, kInput);
  FUZZ_REQUIRE(inputBuses >= 1 && inputBuses <= 2);
  FUZZ_REQUIRE(session.Processor()->setBusArrangements(stereo, inputBuses, &out, 1) == kResultOk);
  session.Process(fuzz::Vst3Session::kBlock, kSample32, nullptr);
  return 0;
}
