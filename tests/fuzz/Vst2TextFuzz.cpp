// VST2 text entry: effString2Parameter with any parameter index and text.
//
// Input: the index (a signed byte, so invalid indices come up too), then the
// text to the end of the input; no text at all stands for a null pointer.
// Checks: a refused text changes nothing, and so does a null text (the host
// asking whether texts are understood). An accepted text leaves a normalized
// value, on a step for stepped parameters, whose display text is accepted in
// turn and displays the same; a text without a digit is accepted only when it
// is what a step of the parameter displays (as "On" or "EXT"). Both formats
// read texts alike: the VST3 module's getParamValueByString accepts the same
// texts (each byte one UTF-16 unit) and gives the same normalized value,
// which a VST3 host's processing turns into the very value VST2 holds. Only
// printable ASCII of at most 127 characters is ever accepted.
#include <cctype>

#include "Vst2Session.h"
#include "Vst3Session.h"

namespace {

std::string Display(PluginInstance& plug, int32_t index) {
  char text[256] = {};
  plug.Dispatch(vst2::effGetParamDisplay, index, 0, text);
  text[sizeof text - 1] = 0;
  return text;
}

// The display text of a normalized value, without changing the parameter,
// through the host extension every VST2 host of this plug-in may use.
std::string DisplayOf(PluginInstance& plug, int32_t index, double normalized) {
  char text[256] = {};
  plug.Dispatch(vst2::effVendorSpecific, vst2::effGetParamDisplay, index, text,
                static_cast<float>(normalized));
  text[sizeof text - 1] = 0;
  return text;
}

std::string Folded(const std::string& text) {
  size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
  std::string folded = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  for (char& c : folded) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return folded;
}

// A text a host may fairly have accepted: it holds a number, or it is the
// display of one of the parameter's steps.
bool LooksLikeAValue(PluginInstance& plug, int32_t index, const std::vector<char>& text) {
  for (char c : text)
    if (c >= '0' && c <= '9') return true;
  const int steps = fuzz::StepCount(index);
  for (int k = 0; k <= steps && steps > 0; ++k)
    if (Folded(text.data()) == Folded(DisplayOf(plug, index, static_cast<double>(k) / steps)))
      return true;
  return false;
}

// Printable ASCII, at most a host text field long (the terminator aside).
bool PlainText(const std::vector<char>& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] < 0x20 || text[i] > 0x7E) return false;
  return text.size() <= 128;
}

void CompareWithVst3(int32_t index, const std::vector<char>& text, intptr_t answer,
                     fuzz::Vst2Session& session) {
  PluginInstance& plug = session.Plug();
  fuzz::Vst3Session vst3;
  // Byte for unit, whole: the same text as the VST2 host handed over.
  std::vector<Steinberg::Vst::TChar> wide(text.begin(), text.end());
  for (size_t i = 0; i < text.size(); ++i)
    wide[i] = static_cast<Steinberg::Vst::TChar>(static_cast<unsigned char>(text[i]));
  Steinberg::Vst::ParamValue normalized = -7;
  const bool accepted = vst3.Controller()->getParamValueByString(
                            static_cast<Steinberg::Vst::ParamID>(index), wide.data(),
                            normalized) == Steinberg::kResultOk;
  FUZZ_REQUIRE(accepted == (answer == 1));
  if (!accepted) return;
  FUZZ_REQUIRE(std::fabs(normalized - plug.Get(index)) < 1e-6);
  // Applied by a VST3 host, the value is the one VST2 holds, to the bit.
  host::ParamChanges change;
  change.Add(static_cast<Steinberg::Vst::ParamID>(index), {normalized});
  vst3.Process(16, Steinberg::Vst::kSample32, &change);
  const std::vector<uint8_t> vst3State = vst3.State();
  const std::vector<uint8_t> vst2Program = session.Chunk(1);
  FUZZ_REQUIRE(vst3State.size() >= 8u * (index + 1) && vst2Program.size() >= 8u * (index + 2));
  FUZZ_REQUIRE(memcmp(vst3State.data() + 8 * index, vst2Program.data() + 8 + 8 * index, 8) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::HostInput in(data, size);
  const int32_t index = in.Take<int8_t>();
  const bool nullText = in.Left() == 0;
  std::vector<char> text = fuzz::TextBuffer(in.Text(160));

  fuzz::Vst2Session session;
  PluginInstance& plug = session.Plug();
  const fuzz::Vst2Snapshot before = session.Snapshot();

  intptr_t answer = plug.Dispatch(vst2::effString2Parameter, index, 0,
                                  nullText ? nullptr : text.data());
  FUZZ_REQUIRE(answer == 0 || answer == 1);
  if (!nullText && index >= 0 && index < fuzz::kParamCount)
    CompareWithVst3(index, text, answer, session);
  if (answer == 0 || nullText) {
    FUZZ_REQUIRE(session.Snapshot() == before);
    return 0;
  }
  FUZZ_REQUIRE(index >= 0 && index < fuzz::kParamCount);
  float value = plug.Get(index);
  FUZZ_REQUIRE(fuzz::IsNormalized(value));
  FUZZ_REQUIRE(fuzz::OnStep(index, value, 1e-6));
  FUZZ_REQUIRE(LooksLikeAValue(plug, index, text));
  FUZZ_REQUIRE(PlainText(text));

  const std::string shown = Display(plug, index);
  std::vector<char> again = fuzz::TextBuffer(shown);
  FUZZ_REQUIRE(plug.Dispatch(vst2::effString2Parameter, index, 0, again.data()) == 1);
  FUZZ_REQUIRE(Display(plug, index) == shown);
  session.CheckValues();
  return 0;
}
