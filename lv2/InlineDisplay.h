// InlineDisplay: Ardour's inline-display extension for the LV2 plug-in, the
// gain-reduction meter drawn in the host's mixer strip.
//
// Who calls what:
//   - instantiate: FindHostFeature with the host's features. Without the
//     host's queue_draw feature the host never renders and nothing is asked.
//   - run (audio thread, realtime): MeterChanged after each block with the
//     meter value. It calls the host's queue_draw only when the picture would
//     change (another filmstrip frame than the one last drawn) and no render
//     is pending; it takes no lock and allocates nothing.
//   - the host's render (its GUI thread, never concurrently with itself):
//     Render draws the latest meter value and returns the surface, which
//     stays valid until the next Render or the instance's destruction.
#pragma once

#include <atomic>
#include <cstdint>

#include <lv2/core/lv2.h>

#include "InlineDisplayExtension.h"
#include "InlineMeter.h"

class InlineDisplay {
 public:
  explicit InlineDisplay(const BitmapRef& meterImage) : meter_(meterImage) {}

  void FindHostFeature(const LV2_Feature* const* features);
  bool HostDraws() const { return queueDraw_ != nullptr; }

  void MeterChanged(double meterValue);
  InlineDisplayImageSurface* Render(uint32_t maxWidth, uint32_t maxHeight);

 private:
  const InlineDisplayQueueDraw* queueDraw_ = nullptr;
  InlineMeter meter_;
  InlineDisplayImageSurface surface_{};
  std::atomic<double> meterValue_{0.0};
  std::atomic<int> drawnFrame_{-1};
  std::atomic<bool> drawQueued_{false};
};
