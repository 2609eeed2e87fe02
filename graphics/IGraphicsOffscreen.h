// A window-less IGraphics: composes into its back buffer like any editor but
// shows nothing (PresentRect does nothing). Used on Linux, where the plug-in
// has no editor window yet, by the tests, and by the snapshot tool, which
// renders the editor into a PNG file.
#pragma once

#include "IGraphics.h"

class IGraphicsOffscreen : public IGraphics {
 public:
  using IGraphics::IGraphics;

  // Repaints the whole editor into the back buffer.
  void RenderAll();
  // Repaints what changed since the last tick, as a window's timer would.
  bool RenderDirty();
  // Writes the back buffer to a PNG file.
  bool WriteSnapshot(const char* path);
};

// The editor object for this platform: the window-less one until a window
// layer exists for it.
IGraphics* CreatePlatformGraphics(IEffectBase* plug, int width, int height, int frameRate);
