#include "IGraphicsOffscreen.h"

#include "PngCodec.h"

void IGraphicsOffscreen::RenderAll() {
  if (!BackBuffer()) CreateBackBuffer();
  for (int i = 0; i < ControlCount(); ++i) ControlAt(i)->MarkDirty(false);
  DrawRegion(PixelRect(0, 0, Width(), Height()));
}

bool IGraphicsOffscreen::RenderDirty() {
  PixelRect dirty;
  if (!CollectDirtyRect(&dirty)) return false;
  if (!BackBuffer()) CreateBackBuffer();
  DrawRegion(dirty);
  return true;
}

bool IGraphicsOffscreen::WriteSnapshot(const char* path) {
  return WriteBitmapPng(BackBuffer(), path);
}

