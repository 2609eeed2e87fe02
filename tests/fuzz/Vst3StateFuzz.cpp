// VST3 state streams: IEditController::setState and IComponent::setState
// with any bytes, from honest, truncated and lying streams.
//
// Input: one mode byte, then the stream's bytes.
//   mode & 1   the component's setState (else the controller's)
//   mode & 2   the stream delivers only as many bytes as the next input byte
//   mode & 4   the stream reports 1000 bytes more read than were asked for
// Checks: a refused state changes nothing a host can see; after an accepted
// one every value is normalized and save -> load -> save is stable; audio
// still comes out finite.
#include "Vst3Session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  const uint8_t mode = in.Take<uint8_t>();
  fuzz::Vst3Session session;
  const fuzz::Vst3Snapshot before = session.Snapshot();

  host::Stream stream;
  if (mode & 2) stream.deliverLimit = in.Take<uint8_t>();
  stream.overstateReads = (mode & 4) != 0;
  stream.bytes = in.Rest();
  Steinberg::tresult result = (mode & 1) ? session.Component()->setState(&stream)
                                         : session.Controller()->setState(&stream);
  if (result != Steinberg::kResultOk) FUZZ_REQUIRE(session.Snapshot() == before);

  session.CheckValues();
  session.CheckStateRoundTrip();
  session.Process(fuzz::Vst3Session::kBlock, Steinberg::Vst::kSample32, nullptr);
  return 0;
}
