// Real X windows for the editor tests: a private Xvfb server started by the
// test program on a free display number (-displayfd), a host's top-level
// window to embed the editor in, real input through the XTest extension, and
// the pixels of a window read back (XGetImage) and saved as PNG.
//
// The test's own connection is separate from the editor's, as a host's and
// a plug-in's would be; pumping the editor is left to each test (effEditIdle,
// a host run loop, or the editor's Idle).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "PIX_Bitmap.h"
#include "PngCodec.h"
#include "../support/EditorScenarios.h"

#define KeyCode XlibKeyCode
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyCode

namespace xtest {

using editor_test::ChangedPixels;
using editor_test::DistinctColours;
using editor_test::Rect;

// One Xvfb for the whole test program; DISPLAY points at it.
class VirtualDisplay : public ::testing::Environment {
 public:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      close(fds[0]);
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the test, however it ends
      freopen("/dev/null", "w", stderr);  // its probing of display numbers
      const std::string fd = std::to_string(fds[1]);
      // -noreset: between tests no client is left, and a server that resets
      // then refuses the next test's connection for a moment.
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1200x24",
             "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start (is the xvfb package installed?)";
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs `pump` every 5 ms for at least `ms` milliseconds and at least
// kMinPumps times: a loaded machine gets fewer turns per millisecond, and
// the outcome must not depend on how many. Input reaches the server before
// pumping (HostDisplay syncs after each fake event) and the editor syncs
// its drawing, so a few turns see every event through.
constexpr int kMinPumps = 8;
inline void PumpFor(int ms, const std::function<void()>& pump) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (int turns = 0; turns < kMinPumps || std::chrono::steady_clock::now() < end; ++turns) {
    pump();
    SleepMs(5);
  }
}

// The host side of the display: its own connection, top-level windows,
// XTest input and read-back.
class HostDisplay {
 public:
  HostDisplay() { display_ = XOpenDisplay(nullptr); }
  ~HostDisplay() {
    if (display_) XCloseDisplay(display_);
  }
  Display* Get() const { return display_; }

  // A mapped top-level window that also hears keys sent to it.
  Window MakeHostWindow(int x, int y, int width, int height) {
    XSetWindowAttributes a;
    a.background_pixel = 0x404040;
    a.event_mask = KeyPressMask | KeyReleaseMask | StructureNotifyMask | SubstructureNotifyMask;
    Window w = XCreateWindow(display_, DefaultRootWindow(display_), x, y,
                             static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                             CopyFromParent, InputOutput, CopyFromParent,
                             CWBackPixel | CWEventMask, &a);
    XMapRaised(display_, w);
    XEvent e;
    do XWindowEvent(display_, w, StructureNotifyMask, &e);
    while (e.type != MapNotify);
    return w;
  }
  void Destroy(Window w) {
    XDestroyWindow(display_, w);
    XSync(display_, False);
  }

  std::vector<Window> Children(Window w) {
    Window root, parent, *kids = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    XSync(display_, False);
    if (XQueryTree(display_, w, &root, &parent, &kids, &n)) out.assign(kids, kids + n);
    if (kids) XFree(kids);
    return out;
  }
  Window EditorOf(Window host) {
    std::vector<Window> kids = Children(host);
    return kids.size() == 1 ? kids[0] : 0;
  }
  bool Geometry(Window w, int* width, int* height) {
    Window root;
    int x, y;
    unsigned int ww, hh, border, depth;
    if (!XGetGeometry(display_, w, &root, &x, &y, &ww, &hh, &border, &depth)) return false;
    *width = static_cast<int>(ww);
    *height = static_cast<int>(hh);
    return true;
  }

  // ---- input ----
  // Each fake event is processed by the server before the call returns, so
  // the editor finds it on its connection at its next turn.
  void MoveTo(Window w, int x, int y) {
    Window child;
    int rx, ry;
    XTranslateCoordinates(display_, w, DefaultRootWindow(display_), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(display_, DefaultScreen(display_), rx, ry, CurrentTime);
    XSync(display_, False);  // processed by the server on return
  }
  void Button(unsigned int button, bool down) {
    XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
    XSync(display_, False);  // processed by the server on return
  }
  void Key(KeySym sym, bool down) {
    XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, sym), down ? True : False,
                      CurrentTime);
    XSync(display_, False);  // processed by the server on return
  }
  void Tap(KeySym sym) {
    Key(sym, true);
    Key(sym, false);
  }
  // Keys sent on to the host's window since the last call.
  std::vector<KeySym> KeysAt(Window host) {
    std::vector<KeySym> keys;
    XSync(display_, False);
    XEvent e;
    while (XCheckWindowEvent(display_, host, KeyPressMask, &e))
      keys.push_back(XLookupKeysym(&e.xkey, 0));
    return keys;
  }
  // True when no other client holds the pointer.
  bool PointerFree() {
    const int result = XGrabPointer(display_, DefaultRootWindow(display_), False,
                                    ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None,
                                    CurrentTime);
    if (result == GrabSuccess) XUngrabPointer(display_, CurrentTime);
    XSync(display_, False);
    return result == GrabSuccess;
  }

  // ---- pixels ----
  // 0x00RRGGBB per pixel, rows top to bottom; empty when unreadable.
  std::vector<uint32_t> Capture(Window w, int* width = nullptr, int* height = nullptr) {
    int ww = 0, hh = 0;
    std::vector<uint32_t> out;
    XSync(display_, False);
    if (!Geometry(w, &ww, &hh)) return out;
    XImage* image = XGetImage(display_, w, 0, 0, static_cast<unsigned>(ww),
                              static_cast<unsigned>(hh), AllPlanes, ZPixmap);
    if (!image) return out;
    out.resize(static_cast<size_t>(ww) * static_cast<size_t>(hh));
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < ww; ++x)
        out[static_cast<size_t>(y) * static_cast<size_t>(ww) + static_cast<size_t>(x)] =
            static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu;
    XDestroyImage(image);
    if (width) *width = ww;
    if (height) *height = hh;
    return out;
  }

 private:
  Display* display_ = nullptr;
};

inline bool SavePng(const std::vector<uint32_t>& pixels, int width, int height,
                    const std::string& path) {
  PIX_SysBitmap bitmap;
  if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) ||
      !bitmap.Resize(width, height))
    return false;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.Row(y)[x] = 0xFF000000u | pixels[static_cast<size_t>(y) * width + x];
  // A fast compression level: screenshots are for looking at, not for keeping.
  return WriteArgbPng(bitmap.Row(0), width, height, bitmap.RowSpan(), path.c_str(), 1);
}

}  // namespace xtest
