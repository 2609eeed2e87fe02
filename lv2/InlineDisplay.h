// InlineDisplay: Ardour's inline-display extension for the LV2 plug-in, the
// gain-reduction meter drawn in the host's mixer strip.
//
// The extension is not part of the LV2 headers; its URIs and C structs are
// declared here as the host defines them.
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

#include "InlineMeter.h"

#define KESTRUNE_INLINEDISPLAY_PREFIX "http://harrisonconsoles.com/lv2/inlinedisplay#"
#define KESTRUNE_INLINEDISPLAY__interface KESTRUNE_INLINEDISPLAY_PREFIX "interface"
#define KESTRUNE_INLINEDISPLAY__queue_draw KESTRUNE_INLINEDISPLAY_PREFIX "queue_draw"
#define KESTRUNE_INLINEDISPLAY__in_gui_thread KESTRUNE_INLINEDISPLAY_PREFIX "in_gui_thread"

extern "C" {
// The picture: premultiplied native-endian ARGB32, `stride` bytes per row.
struct InlineDisplayImageSurface {
  unsigned char* data;
  int width;
  int height;
  int stride;
};

// extension_data(KESTRUNE_INLINEDISPLAY__interface)
struct InlineDisplayInterface {
  InlineDisplayImageSurface* (*render)(LV2_Handle instance, uint32_t width, uint32_t height);
};

// The data of the host's queue_draw feature.
struct InlineDisplayQueueDraw {
  void* handle;
  void (*queue_draw)(void* handle);
};
}

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
