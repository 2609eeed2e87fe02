// VST3 parameter-change queues in process(): up to 8 blocks, each with up to
// 4 queues of up to 4 points for any parameter ID, points at any offset with
// any value, and optionally the host's transport.
//
// Input: a setup byte (1: 64-bit processing, 2: offline), then per block:
// frames (0..64), queue count (0..4), per queue an ID byte (see HostParamId)
// and a point count (0..4), per point a 16-bit signed offset and a number (see
// HostInput::HostDouble); then a transport flag, and if set tempo, position,
// bar start and time signature.
// Checks: after every block, every parameter reads back normalized, stepped
// parameters hold whole plain values in the saved state, and the audio of a
// bounded test signal is finite.
#include <memory>

#include "Vst3Session.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  fuzz::Vst3Session session;
  const uint8_t setupFlags = in.Take<uint8_t>();
  const int32 sampleSize = (setupFlags & 1) ? kSample64 : kSample32;
  if (setupFlags & 3) {
    session.Component()->setActive(false);
    ProcessSetup setup{(setupFlags & 2) ? kOffline : kRealtime, sampleSize,
                       fuzz::Vst3Session::kBlock, 44100.0};
    FUZZ_REQUIRE(session.Processor()->setupProcessing(setup) == kResultOk);
    session.Component()->setActive(true);
  }

  for (int block = 0; block < 8 && in.Left() > 0; ++block) {
    const int32 frames = in.Choice(fuzz::Vst3Session::kBlock + 1);
    // Queues are written by the host before the block, so the point list
    // never moves while the plug-in reads it.
    auto changes = std::make_unique<host::ParamChanges>();
    const int queues = in.Choice(5);
    changes->queues.reserve(queues);
    for (int q = 0; q < queues; ++q) {
      changes->queues.emplace_back();
      host::ValueQueue& queue = changes->queues.back();
      queue.id = fuzz::HostParamId(in);
      const int points = in.Choice(5);
      for (int p = 0; p < points; ++p) {
        int32 offset = in.Take<int16_t>();
        queue.points.emplace_back(offset, in.HostDouble());
      }
    }
    ProcessContext context{};
    const bool transport = in.Flag();
    if (transport) {
      context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid |
                      ProcessContext::kProjectTimeMusicValid | ProcessContext::kBarPositionValid |
                      ProcessContext::kTimeSigValid;
      context.sampleRate = 44100.0;
      context.tempo = in.HostDouble();
      context.projectTimeMusic = in.HostDouble();
      context.barPositionMusic = in.HostDouble();
      context.projectTimeSamples = in.Take<int64>();
      context.timeSigNumerator = in.Take<int32>();
      context.timeSigDenominator = in.Take<int32>();
    }
    session.Process(frames, sampleSize, changes.get(), transport ? &context : nullptr);

    session.CheckValues();
    const std::vector<uint8_t> state = session.State();
    for (int i = 0; i < fuzz::kParamCount; ++i) {
      if (fuzz::StepCount(i) == 0) continue;
      const double plain = fuzz::Vst3Session::PlainInState(state, i);
      FUZZ_REQUIRE(plain == std::round(plain));
    }
  }
  return 0;
}
