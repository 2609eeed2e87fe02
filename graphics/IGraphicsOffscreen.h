// A window-less IGraphics: composes into its back buffer like any editor but
// shows nothing (PresentRect does nothing). Used by the tests and by the
// snapshot and render tools, which write the editor into a PNG file; the
// Linux window layer (x11/IGraphicsX11) derives from it, so an editor whose
// window is closed renders the same way.
#pragma once

#include "IGraphics.h"

class IGraphicsOffscreen : public IGraphics {
 public:
  using IGraphics::IGraphics;
  // A picture without a window takes any scale; the X11 layer resizes its window.
  bool WindowFollowsScale() const override { return true; }

  // Repaints the whole editor into the back buffer.
  void RenderAll();
  // Repaints what changed since the last tick, as a window's timer would.
  bool RenderDirty();
  // Writes the back buffer to a PNG file.
  bool WriteSnapshot(const char* path);
};

// The editor object for this platform: IGraphicsWin on Windows, IGraphicsX11
// elsewhere (each window layer defines it).
IGraphics* CreatePlatformGraphics(IEffectBase* plug, int width, int height, int frameRate);
