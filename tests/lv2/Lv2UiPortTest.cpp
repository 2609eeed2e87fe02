// The LV2 UI's ports, in-process and without a window: what the host sends
// reaches the editor only when it is a float for a known port, nothing the
// host sent goes back to it, and the user's edits go to the host in the
// port's own units.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "IControl.h"
#include "IGraphics.h"
#include "KestruneEditor.h"
#include "KestruneIdentity.h"
#include "Lv2Ports.h"
#include "Lv2UiPlug.h"

namespace {

struct Written {
  uint32_t port;
  float value;
};

void Record(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t format,
            const void* buffer) {
  if (size == sizeof(float) && format == 0)
    static_cast<std::vector<Written>*>(controller)->push_back({port, *static_cast<const float*>(buffer)});
}

TEST(Lv2UiPorts, OnlyAFloatForAKnownPortReachesTheEditorAndOnlyTheUsersEditsGoBack) {
  std::vector<Written> written;
  Lv2UiPlug ui(Record, &written, nullptr);
  auto* editor = dynamic_cast<IGraphics*>(ui.Editor());
  ASSERT_TRUE(editor);
  IControl* input = editor->ControlAt(kestrune::kControlInput);
  IControl* bypass = editor->ControlAt(kestrune::kControlBypass);
  IControl* meter = editor->ControlAt(ui.MeterControlIndex());
  const uint32_t inputPort = lv2ports::kFirstParamPort + kestrune::kInput;

  const float drive = 40, nan = std::numeric_limits<float>::quiet_NaN();
  const double driveShown = ui.ParamAt(kestrune::kInput)->NormalizedFromPlain(40);
  ui.PortEvent(inputPort, sizeof drive, 0, &drive);
  editor->ShowPendingValues();  // the UI's idle tick
  EXPECT_DOUBLE_EQ(input->Value(), driveShown);

  // Refused, and nothing changes: other formats and sizes, no buffer, NaN,
  // audio and unknown ports.
  const float other = 70;
  const double wide = 70;
  ui.PortEvent(inputPort, sizeof other, 1, &other);
  ui.PortEvent(inputPort, sizeof wide, 0, &wide);
  ui.PortEvent(inputPort, sizeof other, 0, nullptr);
  ui.PortEvent(inputPort, sizeof nan, 0, &nan);
  ui.PortEvent(lv2ports::kMainInLeft, sizeof other, 0, &other);
  ui.PortEvent(lv2ports::kPortCount, sizeof other, 0, &other);
  ui.PortEvent(0xFFFFFFFFu, sizeof other, 0, &other);
  editor->ShowPendingValues();
  EXPECT_DOUBLE_EQ(input->Value(), driveShown);
  EXPECT_EQ(ui.ParamAt(kestrune::kInput)->value, 40);

  // The host's enabled port is the bypass, inverted; the gain reduction in
  // dB moves the meter (a NaN does not).
  const float disabled = 0, reduction = 6;
  ui.PortEvent(lv2ports::kFirstParamPort + kestrune::kBypass, sizeof disabled, 0, &disabled);
  editor->ShowPendingValues();
  EXPECT_EQ(bypass->Value(), 1.0);
  ui.PortEvent(lv2ports::kGainReductionPort, sizeof reduction, 0, &reduction);
  ui.PortEvent(lv2ports::kGainReductionPort, sizeof nan, 0, &nan);
  EXPECT_NEAR(meter->Value(), 1 - std::pow(10.0, -6.0 / 20), 1e-6);
  EXPECT_TRUE(written.empty()) << "the UI sent the host's own values back";

  // The user's edit: the port's value in the unit hosts show (ms here).
  const PlugParam& attack = *ui.ParamAt(kestrune::kAttack);
  ui.SetParamFromEditor(kestrune::kAttack, attack.NormalizedFromPlain(-0.0005));
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0].port, lv2ports::kFirstParamPort + kestrune::kAttack);
  EXPECT_FLOAT_EQ(written[0].value, 0.5f);
  // Its echo from the host changes nothing and is not sent again.
  ui.PortEvent(written[0].port, sizeof(float), 0, &written[0].value);
  EXPECT_EQ(written.size(), 1u);
}

}  // namespace
