// The X side of the JUCE host tests, kept out of the JUCE translation unit
// (X11's macros collide with JUCE's names): the program's own Xvfb and the
// pixels of a window.
#pragma once

#include <cstdint>
#include <vector>

namespace editorpixels {

// Starts a private Xvfb on first use and points DISPLAY at it; it lives as
// long as the test program. False when it cannot start.
bool UseVirtualDisplay();

// 0x00RRGGBB per pixel of X window `window`, children included, rows top
// to bottom; empty when the window cannot be read.
std::vector<uint32_t> Capture(unsigned long window);

// A left click at (x, y) inside the window, through the XTest extension.
void Click(unsigned long window, int x, int y);

// The window's pixels as a PNG file; false when it cannot be written.
bool SavePicture(unsigned long window, const char* path);

}  // namespace editorpixels
