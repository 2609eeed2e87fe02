// VST3 parameter texts and normalized values: up to 32 controller calls
// chosen by the input, each with a parameter ID (mostly the plug-in's own)
// and a host-chosen text or number.
//
// Input, per call: an operation byte (modulo 8), a parameter ID byte (see
// HostParamId), then its argument: a text up to a zero byte (for 0, UTF-8
// read as UTF-16, see HostUtf16), or a number (see HostInput::HostDouble),
// or for 6 a 32-bit index.
//   0 getParamValueByString   3 getParamStringByValue
//   1 normalizedParamToPlain  4 setParamNormalized
//   2 plainParamToNormalized  5 a value's own display text read back
//   6 the index queries: parameter, unit, program list and bus infos and
//     program names at the index (the ID byte is the program list's ID)
//   7 createView with the text as the view's name
// Checks: every normalized value the controller hands out for the plug-in's
// own IDs (from a text, from a plain value, or read back after any call) is
// within 0..1 and not NaN; a text with a unit outside ASCII, or longer than
// a host's text field, is refused; normalizedParamToPlain treats a value outside
// 0..1 as the nearest end and never answers NaN for them; texts come back
// terminated; the text shown for a value is accepted as text entry; a
// parameter's info has a normalized default and no negative step count.
#include <algorithm>

#include "Vst3Session.h"
#include "pluginterfaces/gui/iplugview.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

bool Known(ParamID id) {
  const auto& ids = fuzz::KnownIds();
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool Terminated(const String128 text) {
  for (int i = 0; i < 128; ++i)
    if (text[i] == 0) return true;
  return false;
}

void IndexQueries(fuzz::Vst3Session& session, ParamID listId, int32 index) {
  IEditController* controller = session.Controller();
  ParameterInfo info;
  memset(&info, 0x55, sizeof info);
  if (controller->getParameterInfo(index, info) == kResultOk) {
    FUZZ_REQUIRE(Terminated(info.title) && Terminated(info.shortTitle) && Terminated(info.units));
    FUZZ_REQUIRE(info.stepCount >= 0 && fuzz::IsNormalized(info.defaultNormalizedValue));
  }
  IUnitInfo* units = nullptr;
  if (controller->queryInterface(IUnitInfo_iid, reinterpret_cast<void**>(&units)) == kResultOk) {
    UnitInfo unit;
    memset(&unit, 0x55, sizeof unit);
    if (units->getUnitInfo(index, unit) == kResultOk) FUZZ_REQUIRE(Terminated(unit.name));
    ProgramListInfo list;
    memset(&list, 0x55, sizeof list);
    if (units->getProgramListInfo(index, list) == kResultOk) FUZZ_REQUIRE(Terminated(list.name));
    String128 name;
    memset(name, 0x55, sizeof name);
    if (units->getProgramName(static_cast<ProgramListID>(listId), index, name) == kResultOk)
      FUZZ_REQUIRE(Terminated(name));
    units->release();
  }
  for (MediaType type : {kAudio, kEvent})
    for (BusDirection dir : {kInput, kOutput}) {
      BusInfo bus;
      memset(&bus, 0x55, sizeof bus);
      if (session.Component()->getBusInfo(type, dir, index, bus) == kResultOk)
        FUZZ_REQUIRE(Terminated(bus.name) && bus.channelCount >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::HostInput in(data, size);
  fuzz::Vst3Session session;
  IEditController* controller = session.Controller();

  for (int call = 0; call < 32 && in.Left() > 0; ++call) {
    const int op = in.Choice(8);
    const ParamID id = fuzz::HostParamId(in);
    switch (op) {
      case 0: {
        const std::vector<TChar> text = fuzz::HostUtf16(in.Text(255));
        ParamValue normalized = -7;
        if (controller->getParamValueByString(id, const_cast<TChar*>(text.data()), normalized) ==
            kResultOk) {
          FUZZ_REQUIRE(fuzz::IsNormalized(normalized));
          // Only ASCII of a host text field's length is a value: no unit is
          // read by its low byte, no text is cut. The text ends at its first
          // terminator (an overlong UTF-8 zero puts one inside).
          const auto end = std::find(text.begin(), text.end(), TChar(0));
          FUZZ_REQUIRE(end - text.begin() < 128);
          for (auto unit = text.begin(); unit != end; ++unit) FUZZ_REQUIRE(*unit < 0x80);
        }
        break;
      }
      case 1: {
        const double normalized = in.HostDouble();
        const ParamValue plain = controller->normalizedParamToPlain(id, normalized);
        if (Known(id)) {
          FUZZ_REQUIRE(!std::isnan(plain));
          if (!std::isnan(normalized)) {
            FUZZ_REQUIRE(plain == controller->normalizedParamToPlain(id, fuzz::Clamp01(normalized)));
          }
        }
        break;
      }
      case 2: {
        const ParamValue normalized = controller->plainParamToNormalized(id, in.HostDouble());
        if (Known(id)) FUZZ_REQUIRE(fuzz::IsNormalized(normalized));
        break;
      }
      case 3: {
        String128 text;
        memset(text, 0x55, sizeof text);
        if (controller->getParamStringByValue(id, in.HostDouble(), text) == kResultOk)
          FUZZ_REQUIRE(Terminated(text));
        break;
      }
      case 4:
        controller->setParamNormalized(id, in.HostDouble());
        break;
      case 6:
        IndexQueries(session, id, in.Take<int32>());
        break;
      case 7:
        if (IPlugView* view = controller->createView(in.Text(64).c_str())) view->release();
        break;
      default: {
        const double normalized = fuzz::Clamp01(in.HostDouble());
        String128 text = {};
        if (id < static_cast<ParamID>(fuzz::kParamCount) &&
            controller->getParamStringByValue(id, normalized, text) == kResultOk) {
          ParamValue back = -7;
          FUZZ_REQUIRE(controller->getParamValueByString(id, text, back) == kResultOk);
          FUZZ_REQUIRE(fuzz::IsNormalized(back));
        }
        break;
      }
    }
    session.CheckValues();
  }
  return 0;
}
