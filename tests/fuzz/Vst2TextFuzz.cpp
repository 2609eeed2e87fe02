// VST2 text entry: effString2Parameter with any parameter index and text.
//
// Input: the index (a signed byte, so invalid indices come up too), then the
// text to the end of the input; no text at all stands for a null pointer. Checks: a refused text changes nothing, and so does a null text (the
// host asking whether texts are understood); an accepted text leaves a
// normalized value, on a step for stepped parameters, whose display text is
// accepted in turn and displays the same.
#include "Vst2Session.h"

namespace {

std::string Display(PluginInstance& plug, int32_t index) {
  char text[256] = {};
  plug.Dispatch(vst2::effGetParamDisplay, index, 0, text);
  text[sizeof text - 1] = 0;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::HostInput in(data, size);
  const int32_t index = in.Take<int8_t>();
  const bool nullText = in.Left() == 0;
  std::vector<char> text = fuzz::TextBuffer(in.Text(64));

  fuzz::Vst2Session session;
  PluginInstance& plug = session.Plug();
  const fuzz::Vst2Snapshot before = session.Snapshot();

  intptr_t answer = plug.Dispatch(vst2::effString2Parameter, index, 0,
                                  nullText ? nullptr : text.data());
  FUZZ_REQUIRE(answer == 0 || answer == 1);
  if (answer == 0 || nullText) {
    FUZZ_REQUIRE(session.Snapshot() == before);
    return 0;
  }
  FUZZ_REQUIRE(index >= 0 && index < fuzz::kParamCount);
  float value = plug.Get(index);
  FUZZ_REQUIRE(fuzz::IsNormalized(value));
  FUZZ_REQUIRE(fuzz::OnStep(index, value, 1e-6));

  const std::string shown = Display(plug, index);
  std::vector<char> again = fuzz::TextBuffer(shown);
  FUZZ_REQUIRE(plug.Dispatch(vst2::effString2Parameter, index, 0, again.data()) == 1);
  FUZZ_REQUIRE(Display(plug, index) == shown);
  session.CheckValues();
  return 0;
}
