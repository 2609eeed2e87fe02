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

std::vector<uint32_t> Capture(unsigned long window) {
  static xtest::HostDisplay host;
  if (!host.Get()) return {};
  return host.Capture(static_cast<Window>(window));
}

}  // namespace editorpixels
