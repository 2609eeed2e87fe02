// Lv2UiPlug: the editor's side of a plug-in instance in the LV2 UI module.
//
// An LV2 UI may run in another process than the DSP, so it holds no
// reference to the plug-in: it keeps its own copy of the parameter table,
// which the editor reads and edits, and talks to the DSP only through ports.
//   - Host to UI (PortEvent, the host's user-interface thread): a control
//     port's value becomes the parameter's plain value by the same step rule
//     the DSP uses, and the editor shows it; the gain-reduction output port
//     moves the meter. Nothing is sent back: the host already has the value.
//   - UI to host: the user's edits in the editor arrive as SetParamFromEditor
//     (the base sets the value and calls NotifyHostParam), which writes the
//     parameter's port through the host's write function, framed by the
//     host's ui:touch when it offers one.
// Every port index, format, size and value from the host is checked; bad
// input is ignored.
#pragma once

#include <cstdint>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include "IEffectBase.h"

class Lv2UiPlug : public IEffectBase {
 public:
  Lv2UiPlug(LV2UI_Write_Function write, LV2UI_Controller controller,
            const LV2_Feature* const* features);
  ~Lv2UiPlug() override;

  void PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer);

  // The meter's index among the editor's controls.
  int MeterControlIndex() const { return meterControlIndex_; }
  // The editor meter's reading (1 - gain) that a gain reduction in dB shows.
  static double MeterReadingFor(float gainReductionDb);

  // ---- Host-facing operations of the base ----
  void BeginParamGesture(int index) override;
  void NotifyHostParam(int index, double normalized) override;
  void EndParamGesture(int index) override;
  void NotifyHostPresetChange() override {}
  int HostSamplePosition() override { return 0; }
  double HostTempo() override { return 120.0; }
  void HostTimeSignature(int* numerator, int* denominator) override;
  void HostTimeInfo(::HostTimeInfo* info) override;
  // The editor's new size to the host (ui:resize), when it offers that.
  void ResizeEditor() override;
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }

 private:
  void Touch(int index, bool grabbed);

  LV2UI_Write_Function write_;
  LV2UI_Controller controller_;
  const LV2UI_Touch* touch_ = nullptr;
  const LV2UI_Resize* resize_ = nullptr;
  int meterControlIndex_ = -1;
  // Per parameter: the port value last written or received, bit for bit, so
  // a host echoing the UI's own write changes nothing.
  std::vector<float> portValues_;
};
