// IGraphicsX11: the editor on screen under X11 (Linux).
//
// Who calls what, and when (all on the host's user-interface thread):
//   - The bindings open the editor with OpenWindow(parent), the parent being
//     the host's X11 window id (VST2 effEditOpen, VST3 IPlugView::attached
//     with "X11EmbedWindowID"), and close it with CloseWindow. Opening an
//     open editor closes and recreates it at the same place.
//   - While open, the editor has its own display connection and a child
//     window of the host's window at the editor's size. The window's
//     background is a server-side pixmap holding the editor picture, so the
//     server repaints exposed parts by itself, also for a host that never
//     runs the editor's events. Redraws compose the dirty controls into the
//     back buffer (DrawRegion) and put those rectangles into the pixmap
//     (through shared memory when the server offers MIT-SHM).
//   - Nothing runs by itself: the host drives the editor through
//     X11EventPump, from its run loop (VST3) or its idle calls (VST2).
//   - Mouse, wheel (buttons 4 to 7) and keys become the graphics core's
//     Handle... calls; the pointer is grabbed from press to release; keys the
//     editor does not handle are sent on to the host's window.
//   - The text-entry box is drawn by the editor over the back buffer; popup
//     menus are override-redirect windows with a modal loop of their own
//     (X11PopupMenu). Message boxes, file and colour dialogs, opening a web
//     address and reading the clipboard are not available: they answer as
//     the graphics core does without a window.
//
// Closing the window, destroying the editor with the window open, or the host
// destroying its window first leaves nothing behind: no grab, no X resource,
// no display connection, no pointer left hidden, and a parameter gesture
// begun by a press is ended. X errors on the editor's connection are trapped
// (X11ErrorTrap), never fatal.
#pragma once

#include <cstdint>
#include <string>

#include "IGraphicsOffscreen.h"
#include "X11EventPump.h"

class X11SharedImage;
typedef struct _XDisplay Display;
typedef struct _XGC* GC;
union _XEvent;

// Xlib's resource identifiers (Window, Pixmap, Cursor) are XIDs.
using XWindowId = unsigned long;

class IGraphicsX11 : public IGraphicsOffscreen, public X11EventPump {
 public:
  // Entry box states, as on every window layer.
  enum EntryState { kEntryIdle = 0, kEntryFocused = 1, kEntryRepainted = 2, kEntryCancel = 3,
                    kEntryCommit = 4 };
  // Desktop double-click limits: two left presses at most this far apart in
  // time (ms) and space (pixels in either direction).
  static constexpr unsigned long kDoubleClickMs = 400;
  static constexpr int kDoubleClickDistance = 4;

  IGraphicsX11(IEffectBase* plug, int width, int height, int frameRate);
  ~IGraphicsX11() override;

  // ---- Window layer operations ----
  void PresentRect(const PixelRect& rect) override;
  void CancelTextEntry() override;
  void SetEditorSize(int width, int height) override;
  // Resizes an open window to the new scale and redraws it.
  bool SetScale(double scale) override;
  // The host's window size: the editor fits inside and the window takes
  // that size (never below the editor's smallest).
  void FitHostWindow(int width, int height) override;
  // The desktop's scale as toolkits read it: GDK_SCALE when set (a whole
  // number), else the X resource Xft.dpi over 96; 1 without either.
  static double DesktopScale(Display* display);
  const char* DrawingApiName() override { return "X11"; }
  PopupMenu* ShowPopupMenu(PopupMenu* menu, const PixelRect& rect) override;
  void ShowTextEntry(IControl* control, const TextStyle& style, const PixelRect& rect,
                     const char* initialText, PlugParam* param) override;
  void HostDirectory(std::string* out) override;
  void PluginDirectory(std::string* out) override;
  void DesktopDirectory(std::string* out) override;
  void AppDataDirectory(std::string* out, bool systemWide) override;
  void* OpenNativeWindow(void* parent) override;
  void CloseNativeWindow() override;
  void* NativeWindow() override;
  void HideCursor() override;
  void RestoreCursor() override;
  void CapturePointer() override;

  // ---- X11EventPump ----
  int ConnectionFd() const override;
  void HandlePendingEvents() override;
  void RedrawTick() override;
  int TickIntervalMs() const override;
  void Idle() override;

  // ---- State, for the bindings and tests ----
  XWindowId ParentWindow() const { return parent_; }
  bool EntryOpen() const { return entryControl_ != nullptr; }
  int EntryStateValue() const { return entryState_; }
  const std::string& EntryText() const { return entryText_; }
  bool PointerGrabbed() const { return grabbed_; }
  bool UsesSharedMemory() const { return shared_ != nullptr; }
  static int TickInterval(double frameRate);


 private:
  void PublishSizeHints();
  // Events are Xlib's XEvent union, whose members the header cannot name.
  void HandleEvent(_XEvent& event);
  void HandleButtonPress(_XEvent& event);
  void HandleButtonRelease(_XEvent& event);
  void HandleKeyPress(_XEvent& event);
  void ForwardToHost(_XEvent event);
  bool EntryKey(_XEvent& event);
  void PaintEntryBox();
  void CommitEntry();
  void CloseEntryBox(bool repaint);
  void Grab(unsigned long time);
  void Ungrab();
  void EndOpenGesture();
  void ReadWindowSize();
  void TakeWindowSize();
  void RedrawAtNewSize();
  bool CreateSurface(int width, int height);
  void FreeSurface();
  void WindowGone();
  void PutRect(const PixelRect& rect);
  int64_t NowMs() const;

  Display* display_ = nullptr;
  XWindowId window_ = 0;
  XWindowId parent_ = 0;
  XWindowId surface_ = 0;  // the window's background: the editor picture
  // The window's size as last seen: a host may make it larger than the
  // editor (a GTK socket sizes its child to its own allocation).
  int windowWidth_ = 0;
  int windowHeight_ = 0;
  // The last size the host gave the window other than the editor's own: the
  // host keeping its window after the editor resized is no new size.
  int hostWidth_ = 0;
  int hostHeight_ = 0;
  bool fittingHostWindow_ = false;  // SetScale leaves the window to FitHostWindow
  GC gc_ = nullptr;
  void* visual_ = nullptr;  // Visual*
  int depth_ = 0;
  X11SharedImage* shared_ = nullptr;
  XWindowId blankCursor_ = 0;

  bool grabbed_ = false;
  unsigned int pressedButton_ = 0;
  unsigned long lastPressTime_ = 0;  // server time, ms
  int lastPressX_ = -100;
  int lastPressY_ = -100;
  bool lastPressWasDouble_ = false;
  int pointerX_ = 0;
  int pointerY_ = 0;
  int openGesture_ = -1;
  int64_t lastTick_ = 0;

  IControl* entryControl_ = nullptr;
  PlugParam* entryParam_ = nullptr;
  PixelRect entryRect_;
  TextStyle entryStyle_;
  std::string entryText_;
  size_t entryCaret_ = 0;
  bool entrySelectAll_ = false;
  int entryState_ = kEntryIdle;
  int entryLimit_ = 0;

  bool cursorHidden_ = false;
  int savedRootX_ = -1;
  int savedRootY_ = -1;
  bool inMenu_ = false;
  int menusShown_ = 0;

};
