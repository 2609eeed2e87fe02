// X11SharedImage: an image in shared memory (MIT-SHM) through which the
// editor hands pixels to the X server without sending them over the
// connection. Create answers null when the server has no MIT-SHM or cannot
// attach the segment (a remote display); the editor then uses XPutImage.
#pragma once

#include "GraphicsTypes.h"
#include "XlibIncludes.h"

class PIX_IBitmap;

class X11SharedImage {
 public:
  static X11SharedImage* Create(Display* display, Visual* visual, int depth, int width,
                                int height);
  ~X11SharedImage();
  X11SharedImage(const X11SharedImage&) = delete;
  X11SharedImage& operator=(const X11SharedImage&) = delete;

  // Copies `rect` of `source` (same size as the image) into the segment and
  // puts it at the same place of `target`; waits until the server has read it.
  void Put(Drawable target, GC gc, const PIX_IBitmap& source, const PixelRect& rect);

 private:
  X11SharedImage() = default;
  Display* display_ = nullptr;
  XImage* image_ = nullptr;
  XShmSegmentInfo segment_{};
  bool attached_ = false;
};
