// Ardour's inline-display extension: its URIs and C structs, declared here
// as the host defines them (the LV2 headers do not have it).
#pragma once

#include <cstdint>

#include <lv2/core/lv2.h>

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
