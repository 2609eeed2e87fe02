#include "EditorPixels.h"

#include <cstdlib>

#include "XTestSupport.h"

namespace editorpixels {

bool UseVirtualDisplay() {
  // Never torn down: JUCE keeps its connection to the end, and the server
  // goes with the test program (it is started with a parent-death signal).
  static xtest::VirtualDisplay* display = [] {
    auto* d = new xtest::VirtualDisplay;
    d->SetUp();
    return d;
  }();
  (void)display;
  const char* name = std::getenv("DISPLAY");
  return name && name[0];
}

namespace {
xtest::HostDisplay& Host() {
  static xtest::HostDisplay host;
  return host;
}
}  // namespace

std::vector<uint32_t> Capture(unsigned long window) {
  if (!Host().Get()) return {};
  return Host().Capture(static_cast<Window>(window));
}

void Click(unsigned long window, int x, int y) {
  if (!Host().Get()) return;
  Host().MoveTo(static_cast<Window>(window), x, y);
  Host().Button(1, true);
  Host().Button(1, false);
}

bool SavePicture(unsigned long window, const char* path) {
  int width = 0, height = 0;
  if (!Host().Get()) return false;
  const std::vector<uint32_t> pixels = Host().Capture(static_cast<Window>(window), &width, &height);
  return xtest::SavePng(pixels, width, height, path);
}

}  // namespace editorpixels
