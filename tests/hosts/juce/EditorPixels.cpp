#include "EditorPixels.h"

#include <cstdlib>

#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
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

std::vector<uint32_t> RenderedEditor(double scale, int* width, int* height) {
  TestHost host;
  Kestrune plug(&host);
  auto* editor = dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
  std::vector<uint32_t> pixels;
  if (!editor) return pixels;
  editor->SetScale(scale);
  editor->RenderAll();
  PIX_IBitmap* b = editor->BackBuffer();
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) pixels.push_back(b->Row(y)[x] & 0xFFFFFFu);
  *width = b->Width();
  *height = b->Height();
  return pixels;
}

bool SavePicture(unsigned long window, const char* path) {
  int width = 0, height = 0;
  if (!Host().Get()) return false;
  const std::vector<uint32_t> pixels = Host().Capture(static_cast<Window>(window), &width, &height);
  return xtest::SavePng(pixels, width, height, path);
}

}  // namespace editorpixels
