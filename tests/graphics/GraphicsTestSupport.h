// Helpers shared by the editor tests: filmstrips whose frames are told apart
// by their pixel value, and an effect instance with its window-less editor.
#pragma once

#include <memory>

#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
#include "PIX_Bitmap.h"

// A stacked filmstrip where every pixel of frame k (1-based) is opaque with
// red = k, so the back buffer tells which frame was drawn.
inline std::unique_ptr<PIX_MemBitmap> NumberedStrip(int width, int frameHeight, int frames) {
  auto bmp = std::make_unique<PIX_MemBitmap>();
  bmp->Resize(width, frameHeight * frames);
  for (int y = 0; y < frameHeight * frames; ++y)
    for (int x = 0; x < width; ++x)
      bmp->Row(y)[x] = ArgbColor(255, y / frameHeight + 1, 0, 0).ToPixel();
  return bmp;
}

inline BitmapRef RefTo(PIX_IBitmap* bmp, int frames) {
  BitmapRef ref;
  ref.bitmap = bmp;
  ref.width = bmp ? bmp->Width() : 0;
  ref.height = bmp ? bmp->Height() : 0;
  ref.frameCount = frames;
  return ref;
}

// A reference with sizes but no pixels (an image that failed to load, or one
// a test only needs the geometry of).
inline BitmapRef GeometryOnly(int width, int height, int frames) {
  BitmapRef ref;
  ref.width = width;
  ref.height = height;
  ref.frameCount = frames;
  return ref;
}

inline int RedAt(IGraphics& g, int x, int y) {
  return static_cast<int>((g.BackBuffer()->Row(y)[x] >> 16) & 255);
}

// A Kestrune instance on the test binding; the host records gestures and
// automation.
struct PlugRig {
  TestHost host;
  Kestrune plug{&host};
  IGraphicsOffscreen& Editor() { return *dynamic_cast<IGraphicsOffscreen*>(plug.Editor()); }
  int CountEvents(const char* what, int index) const {
    int n = 0;
    for (const auto& e : host.events)
      if (e.what == what && e.index == index) ++n;
    return n;
  }
};
