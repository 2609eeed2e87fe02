#include "IGraphicsX11.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "IEffectBase.h"
#include "PIX_Font.h"
#include "PlugParam.h"
#include "WindowServices.h"
#include "X11ErrorTrap.h"
#include "X11PopupMenu.h"
#include "X11SharedImage.h"
#include "XlibIncludes.h"

namespace {

// Beyond the editor in a larger window: the panel's bottom strip.
constexpr unsigned long kMarginPixel = 0x141518;

constexpr long kEditorEvents = ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                               EnterWindowMask | LeaveWindowMask | KeyPressMask |
                               KeyReleaseMask | FocusChangeMask | StructureNotifyMask;

MouseMods ModsFrom(unsigned int state) {
  MouseMods mods;
  mods.left = (state & Button1Mask) != 0;
  mods.right = (state & Button3Mask) != 0;
  mods.shift = (state & ShiftMask) != 0;
  mods.control = (state & ControlMask) != 0;
  mods.alt = (state & Mod1Mask) != 0;
  return mods;
}

unsigned int ButtonMask(unsigned int button) {
  switch (button) {
    case Button1: return Button1Mask;
    case Button2: return Button2Mask;
    case Button3: return Button3Mask;
    default: return 0;
  }
}

// Key symbol to the controls' key code; -1 when the key is not mapped.
int KeyCodeFor(KeySym sym) {
  switch (sym) {
    case XK_space: return KeySpace;
    case XK_Up: return KeyUp;
    case XK_Down: return KeyDown;
    case XK_Left: return KeyLeft;
    case XK_Right: return KeyRight;
    default: break;
  }
  if (sym >= XK_0 && sym <= XK_9) return KeyDigit0 + static_cast<int>(sym - XK_0);
  if (sym >= XK_a && sym <= XK_z) return KeyA + static_cast<int>(sym - XK_a);
  if (sym >= XK_A && sym <= XK_Z) return KeyA + static_cast<int>(sym - XK_A);
  return -1;
}

// The folder part of a path, with its trailing slash; empty when the path
// has no slash or ends with one.
void FolderOf(const char* path, std::string* out) {
  out->clear();
  const char* slash = path ? std::strrchr(path, '/') : nullptr;
  if (!slash || slash[1] == '\0') return;
  out->assign(path, static_cast<size_t>(slash - path + 1));
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return home && home[0] == '/' ? std::string(home) : std::string();
}

}  // namespace

IGraphics* CreatePlatformGraphics(IEffectBase* plug, int width, int height, int frameRate) {
  return new IGraphicsX11(plug, width, height, frameRate);
}

// ---------------------------------------------------------------- life cycle

IGraphicsX11::IGraphicsX11(IEffectBase* plug, int width, int height, int frameRate)
    : IGraphicsOffscreen(plug, width, height, frameRate) {}

IGraphicsX11::~IGraphicsX11() {
  // The plug-in is being destroyed around its editor: nothing may call into
  // it any more (the bindings close the window first when they can).
  plug_ = nullptr;
  CloseNativeWindow();
}

int IGraphicsX11::TickInterval(double frameRate) {
  if (!(frameRate > 0.0)) frameRate = 25.0;
  const double ms = std::trunc(1000.0 / frameRate);
  return ms < 1.0 ? 1 : static_cast<int>(std::fmin(ms, 10000.0));
}

int IGraphicsX11::TickIntervalMs() const { return TickInterval(FrameRate()); }

int IGraphicsX11::ConnectionFd() const { return display_ ? ConnectionNumber(display_) : -1; }

void* IGraphicsX11::NativeWindow() {
  return window_ ? reinterpret_cast<void*>(static_cast<uintptr_t>(window_)) : nullptr;
}

int64_t IGraphicsX11::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void* IGraphicsX11::OpenNativeWindow(void* parentWindow) {
  const Window parent = static_cast<XWindowId>(reinterpret_cast<uintptr_t>(parentWindow));
  if (!parent || inMenu_) return nullptr;
  int x = 0, y = 0;
  if (window_) {
    X11ErrorTrap trap(display_);
    Window root, child;
    unsigned int w, h, border, depth;
    int wx, wy;
    if (XGetGeometry(display_, window_, &root, &wx, &wy, &w, &h, &border, &depth) &&
        !trap.Failed() && parent == parent_) {
      x = wx;
      y = wy;
    }
    (void)child;
  }
  CloseNativeWindow();

  display_ = XOpenDisplay(nullptr);
  if (!display_) return nullptr;
  // Until the host or the user chooses a size, the editor follows the desktop.
  // The host sized its window by the editor's size before: it is asked again.
  if (SetDesktopScale(DesktopScale(display_))) RequestHostResize();
  bool ok = false;
  {
    X11ErrorTrap trap(display_);
    XWindowAttributes parentAttributes;
    // A parent that is no window of this display is refused.
    if (XGetWindowAttributes(display_, parent, &parentAttributes) && !trap.Failed()) {
      XVisualInfo wanted;
      wanted.visualid = XVisualIDFromVisual(parentAttributes.visual);
      int count = 0;
      XVisualInfo* info = XGetVisualInfo(display_, VisualIDMask, &wanted, &count);
      // The back buffer is 0xAARRGGBB: only a true-colour visual with these
      // masks shows it unconverted.
      if (info && count > 0 && info->c_class == TrueColor && info->red_mask == 0xFF0000 &&
          info->green_mask == 0xFF00 && info->blue_mask == 0xFF &&
          (info->depth == 24 || info->depth == 32)) {
        visual_ = parentAttributes.visual;
        depth_ = info->depth;
        ok = true;
      }
      if (info) XFree(info);
    }
    if (ok) {
      XSetWindowAttributes attributes;
      attributes.event_mask = kEditorEvents;
      attributes.background_pixmap = None;
      attributes.border_pixel = 0;
      attributes.colormap = parentAttributes.colormap;
      window_ = XCreateWindow(display_, parent, x, y, static_cast<unsigned>(Width()),
                              static_cast<unsigned>(Height()), 0, depth_, InputOutput, static_cast<Visual*>(visual_),
                              CWEventMask | CWBackPixmap | CWBorderPixel | CWColormap,
                              &attributes);
      ok = window_ != 0 && !trap.Failed();
      if (ok) {
        parent_ = parent;
        windowWidth_ = hostWidth_ = Width();
        windowHeight_ = hostHeight_ = Height();
        ok = CreateSurface(Width(), Height());
      }
      if (ok) {
        // Plain embedding: a mapped XEmbed client, version 0.
        const Atom xembedInfo = XInternAtom(display_, "_XEMBED_INFO", False);
        const long info[2] = {0, 1};
        XChangeProperty(display_, window_, xembedInfo, xembedInfo, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(info), 2);
        XStoreName(display_, window_, "Kestrune");
        PublishSizeHints();
        XMapWindow(display_, window_);
        ok = !trap.Failed();
      }
    }
  }
  if (!ok) {
    CloseNativeWindow();
    return nullptr;
  }
  // The first picture is in place at once, before any event or tick.
  if (!BackBuffer()) CreateBackBuffer();
  for (int i = 0; i < ControlCount(); ++i) ControlAt(i)->MarkDirty(false);
  DrawRegion(PixelRect(0, 0, Width(), Height()));
  lastTick_ = NowMs();
  return NativeWindow();
}

// The window's size now: a host that redirects its children's resizing (a
// GTK socket) keeps it at its own size, and then no event says so.
void IGraphicsX11::ReadWindowSize() {
  Window root = 0;
  int x = 0, y = 0;
  unsigned int width = 0, height = 0, border = 0, depth = 0;
  if (XGetGeometry(display_, window_, &root, &x, &y, &width, &height, &border, &depth)) {
    windowWidth_ = static_cast<int>(width);
    windowHeight_ = static_cast<int>(height);
    if (windowWidth_ != Width() || windowHeight_ != Height()) {
      hostWidth_ = windowWidth_;
      hostHeight_ = windowHeight_;
    }
  }
}

// The window has a new size from its host (a GTK socket or suil sizes it to
// its allocation). A size the host chose is fitted, as a VST3 host's onSize
// is. The host's own window again after the editor resized itself (Ardour
// keeps an LV2 editor's window when it asks for a smaller one), or any size
// while the corner handle is dragged, leaves the editor's size as it is.
void IGraphicsX11::TakeWindowSize() {
  if (windowWidth_ != Width() || windowHeight_ != Height()) {
    const bool chosenByHost =
        !Resizing() && (windowWidth_ != hostWidth_ || windowHeight_ != hostHeight_);
    hostWidth_ = windowWidth_;
    hostHeight_ = windowHeight_;
    if (chosenByHost) {
      FitHostWindow(windowWidth_, windowHeight_);
      return;
    }
  }
  RedrawAtNewSize();
}

// A surface of the editor's new size, and every control drawn on it.
void IGraphicsX11::RedrawAtNewSize() {
  if (!CreateSurface(Width(), Height())) return;
  for (int i = 0; i < ControlCount(); ++i) ControlAt(i)->MarkDirty(false);
  DrawRegion(PixelRect(0, 0, Width(), Height()));
}

bool IGraphicsX11::CreateSurface(int width, int height) {
  FreeSurface();
  if (width <= 0 || height <= 0) return false;
  // As large as the window: the server tiles a smaller background, which
  // showed the editor's top again in a window the host made taller. The
  // part beyond the editor is the panel's darkest colour.
  const int surfaceWidth = std::max(width, windowWidth_);
  const int surfaceHeight = std::max(height, windowHeight_);
  surface_ = XCreatePixmap(display_, window_, static_cast<unsigned>(surfaceWidth),
                           static_cast<unsigned>(surfaceHeight), static_cast<unsigned>(depth_));
  gc_ = XCreateGC(display_, surface_, 0, nullptr);
  if (!surface_ || !gc_) return false;
  if (surfaceWidth > width || surfaceHeight > height) {
    XSetForeground(display_, gc_, kMarginPixel);
    XFillRectangle(display_, surface_, gc_, 0, 0, static_cast<unsigned>(surfaceWidth),
                   static_cast<unsigned>(surfaceHeight));
  }
  XSetWindowBackgroundPixmap(display_, window_, surface_);
  // The strips beyond the editor show at once; the editor's part follows
  // with its drawing.
  if (surfaceWidth > width)
    XClearArea(display_, window_, width, 0, static_cast<unsigned>(surfaceWidth - width),
               static_cast<unsigned>(surfaceHeight), False);
  if (surfaceHeight > height)
    XClearArea(display_, window_, 0, height, static_cast<unsigned>(width),
               static_cast<unsigned>(surfaceHeight - height), False);
  shared_ = X11SharedImage::Create(display_, static_cast<Visual*>(visual_), depth_, width, height);
  return true;
}

void IGraphicsX11::FreeSurface() {
  delete shared_;
  shared_ = nullptr;
  if (!display_) return;
  if (gc_) XFreeGC(display_, gc_);
  gc_ = nullptr;
  if (surface_) {
    if (window_) XSetWindowBackgroundPixmap(display_, window_, None);
    XFreePixmap(display_, surface_);
  }
  surface_ = 0;
}

void IGraphicsX11::EndOpenGesture() {
  if (openGesture_ >= 0 && plug_) plug_->EndParamGesture(openGesture_);
  openGesture_ = -1;
}

void IGraphicsX11::CloseNativeWindow() {
  // Closed mid-edit or mid-drag: the box goes without committing, the host's
  // gesture is ended, and the grab is let go.
  CloseEntryBox(false);
  ReleaseCapture();
  EndOpenGesture();
  if (!display_) return;
  {
    X11ErrorTrap trap(display_);
    Ungrab();
    RestoreCursor();
    if (blankCursor_) XFreeCursor(display_, blankCursor_);
    blankCursor_ = 0;
    FreeSurface();
    if (window_) XDestroyWindow(display_, window_);
  }
  window_ = 0;
  parent_ = 0;
  X11ErrorTrap::Forget(display_);
  XCloseDisplay(display_);
  display_ = nullptr;
  visual_ = nullptr;
}

// The host destroyed its window, and ours with it: forget the window and
// what hangs on it; the connection stays until the host closes the editor.
void IGraphicsX11::WindowGone() {
  CloseEntryBox(false);
  ReleaseCapture();
  EndOpenGesture();
  X11ErrorTrap trap(display_);
  Ungrab();
  FreeSurface();
  window_ = 0;
}

// ---------------------------------------------------------------- drawing

void IGraphicsX11::PutRect(const PixelRect& r) {
  PIX_IBitmap* buffer = BackBuffer();
  if (!buffer || !buffer->PixelData() || !surface_) return;
  PixelRect rect(std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, buffer->Width()),
                 std::min(r.bottom, buffer->Height()));
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  if (shared_) {
    shared_->Put(surface_, gc_, *buffer, rect);
  } else {
    XImage* image = XCreateImage(display_, static_cast<Visual*>(visual_), static_cast<unsigned>(depth_), ZPixmap, 0,
                                 reinterpret_cast<char*>(buffer->PixelData()),
                                 static_cast<unsigned>(buffer->Width()),
                                 static_cast<unsigned>(buffer->Height()), 32,
                                 buffer->RowSpan() * 4);
    if (!image) return;
    image->byte_order = LSBFirst;  // 0xAARRGGBB in this process's memory
    XPutImage(display_, surface_, gc_, image, rect.left, rect.top, rect.left, rect.top,
              static_cast<unsigned>(rect.Width()), static_cast<unsigned>(rect.Height()));
    image->data = nullptr;  // the pixels belong to the back buffer
    XDestroyImage(image);
  }
  if (window_)
    XClearArea(display_, window_, rect.left, rect.top, static_cast<unsigned>(rect.Width()),
               static_cast<unsigned>(rect.Height()), False);
}

void IGraphicsX11::PresentRect(const PixelRect& rect) {
  if (!window_ || !display_) return;
  X11ErrorTrap trap(display_);
  PixelRect area = rect;
  if (entryControl_ && entryRect_.Overlaps(rect)) {
    PaintEntryBox();
    area = PixelRect(std::min(rect.left, entryRect_.left), std::min(rect.top, entryRect_.top),
                     std::max(rect.right, entryRect_.right),
                     std::max(rect.bottom, entryRect_.bottom));
  }
  PutRect(area);
  XFlush(display_);
}

void IGraphicsX11::RedrawTick() {
  lastTick_ = NowMs();
  if (!window_ || inMenu_) return;
  // Outside any host call: the host may be told of a load now.
  if (plug_) plug_->UserInterfaceTick();
  if (hostResizePending_) {
    hostResizePending_ = false;
    if (plug_) plug_->ResizeEditor();
  }
  if (entryControl_ && entryState_ != kEntryIdle) {
    switch (entryState_) {
      case kEntryCancel:
        CloseEntryBox(true);
        break;
      case kEntryCommit:
        CommitEntry();
        CloseEntryBox(true);
        break;
      default:
        entryState_ = kEntryIdle;
        break;
    }
    return;
  }
  PixelRect dirty;
  if (!CollectDirtyRect(&dirty)) return;
  DrawRegion(dirty);
  if (entryControl_) entryState_ = kEntryRepainted;
}

void IGraphicsX11::Idle() {
  HandlePendingEvents();
  const int interval = TickIntervalMs();
  if (NowMs() - lastTick_ >= interval - interval / 4) RedrawTick();
}

// ---------------------------------------------------------------- events

void IGraphicsX11::HandlePendingEvents() {
  if (!display_ || inMenu_) return;
  X11ErrorTrap trap(display_);
  // Events already read from the connection and those still in the socket.
  while (display_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    HandleEvent(event);
  }
}

void IGraphicsX11::HandleEvent(XEvent& event) {
  if (!window_ || event.xany.window != window_) return;
  switch (event.type) {
    case ButtonPress:
      HandleButtonPress(event);
      break;
    case ButtonRelease:
      HandleButtonRelease(event);
      break;
    case MotionNotify: {
      // Only the newest position of a run of motions matters; anything else
      // in between (a release) keeps its place.
      while (XEventsQueued(display_, QueuedAlready) > 0) {
        XEvent next;
        XPeekEvent(display_, &next);
        if (next.type != MotionNotify || next.xany.window != window_) break;
        XNextEvent(display_, &event);
      }
      const XMotionEvent& m = event.xmotion;
      pointerX_ = m.x;
      pointerY_ = m.y;
      if (m.state & (Button1Mask | Button3Mask)) {
        if (pressedButton_ && !entryControl_) HandleMouseDrag(m.x, m.y, ModsFrom(m.state));
      } else {
        HandleMouseOver(m.x, m.y, ModsFrom(m.state));
      }
      break;
    }
    case LeaveNotify:
      if (event.xcrossing.mode == NotifyNormal && !pressedButton_) HandleMouseLeave();
      break;
    case KeyPress:
      HandleKeyPress(event);
      break;
    case KeyRelease:
      if (!entryControl_) ForwardToHost(event);
      break;
    case FocusOut:
      // The box loses the keyboard: what was typed is kept, as on losing
      // focus anywhere.
      if (entryControl_ && event.xfocus.mode == NotifyNormal &&
          event.xfocus.detail != NotifyInferior && event.xfocus.detail != NotifyPointer)
        entryState_ = kEntryCommit;
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == window_) WindowGone();
      break;
    case ConfigureNotify:
      if (event.xconfigure.window == window_ &&
          (event.xconfigure.width != windowWidth_ || event.xconfigure.height != windowHeight_)) {
        windowWidth_ = event.xconfigure.width;
        windowHeight_ = event.xconfigure.height;
        TakeWindowSize();
      }
      break;
    default:
      break;
  }
}

void IGraphicsX11::Grab(unsigned long time) {
  if (!window_) return;
  grabbed_ = XGrabPointer(display_, window_, False,
                          ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                          GrabModeAsync, None, None, time) == GrabSuccess;
}

void IGraphicsX11::Ungrab() {
  if (grabbed_ && display_) XUngrabPointer(display_, CurrentTime);
  grabbed_ = false;
  pressedButton_ = 0;
}

void IGraphicsX11::CapturePointer() {
  if (display_ && window_ && !grabbed_) Grab(CurrentTime);
}

void IGraphicsX11::HandleButtonPress(XEvent& pressed) {
  const XButtonEvent& event = pressed.xbutton;
  pointerX_ = event.x;
  pointerY_ = event.y;
  const unsigned int button = event.button;
  if (button >= 4 && button <= 7) {
    // Wheel notches: 4 up, 5 down, 6 left, 7 right; one notch is one step.
    if (entryControl_) {
      entryState_ = kEntryCancel;
      return;
    }
    const int steps = (button == 4 || button == 7) ? 1 : -1;
    HandleWheel(event.x, event.y, ModsFrom(event.state), steps);
    return;
  }
  if (button > 3) return;
  if (entryControl_) {
    // A press inside the box stays with the box; anywhere else it ends the
    // entry and does nothing more.
    const bool inside = event.x >= entryRect_.left && event.x < entryRect_.right &&
                        event.y >= entryRect_.top && event.y < entryRect_.bottom;
    if (!inside) entryState_ = entryState_ == kEntryFocused ? kEntryCancel : kEntryCommit;
    return;
  }
  if (pressedButton_) return;  // a second button while one is held
  const unsigned int state = event.state | ButtonMask(button);
  const bool doubleClick = button == Button1 && !lastPressWasDouble_ &&
                           event.time - lastPressTime_ <= kDoubleClickMs &&
                           std::abs(event.x - lastPressX_) <= kDoubleClickDistance &&
                           std::abs(event.y - lastPressY_) <= kDoubleClickDistance;
  if (button == Button1) {
    lastPressTime_ = event.time;
    lastPressX_ = event.x;
    lastPressY_ = event.y;
    lastPressWasDouble_ = doubleClick;
  }
  XSetInputFocus(display_, window_, RevertToParent, event.time);
  Grab(event.time);
  pressedButton_ = button;
  // A gesture left open by a lost release is ended before a new one.
  EndOpenGesture();
  if (doubleClick) {
    HandleDoubleClick(event.x, event.y, ModsFrom(state));
    return;
  }
  const int menusBefore = menusShown_;
  HandleMouseDown(event.x, event.y, ModsFrom(state));
  if (menusShown_ != menusBefore) {
    // The press opened a menu, whose loop took the release: the press ends
    // here, with its gesture.
    if (!window_) return;
    X11ErrorTrap trap(display_);
    Ungrab();
    HandleMouseUp(event.x, event.y, ModsFrom(event.state));
    return;
  }
  IControl* control = ControlAt(MouseCaptureIndex());
  if (control && control->ParamIndex() >= 0) openGesture_ = control->ParamIndex();
}

void IGraphicsX11::HandleButtonRelease(XEvent& released) {
  const XButtonEvent& event = released.xbutton;
  if (event.button < 1 || event.button > 3 || event.button != pressedButton_) return;
  Ungrab();
  openGesture_ = -1;  // the release below ends it
  HandleMouseUp(event.x, event.y, ModsFrom(event.state & ~ButtonMask(event.button)));
}

void IGraphicsX11::HandleKeyPress(XEvent& pressed) {
  if (entryControl_) {
    EntryKey(pressed);
    return;
  }
  XKeyEvent& event = pressed.xkey;
  const KeySym sym = XLookupKeysym(&event, 0);
  const int key = KeyCodeFor(sym);
  if (key >= 0 && HandleKey(event.x, event.y, key)) return;
  ForwardToHost(pressed);
}

// Keys the editor does not take go to the host's window, as they would
// have without the editor in the way.
void IGraphicsX11::ForwardToHost(XEvent forwarded) {
  if (!parent_) return;
  XKeyEvent& event = forwarded.xkey;
  event.window = parent_;
  event.subwindow = None;
  XSendEvent(display_, parent_, True,
             event.type == KeyPress ? KeyPressMask : KeyReleaseMask,
             &forwarded);
  XFlush(display_);
}

// ---------------------------------------------------------------- size

// The window's size as its own normal hints: hosts that follow the embedded
// window (LV2's preferred way, ui:resize being deprecated) read it there. In
// a window the host gave, that window's size: suil asks for its socket the
// size in the hints, which then stays the host's.
void IGraphicsX11::PublishSizeHints() {
  if (!window_) return;
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = PSize | PBaseSize;
  hints->width = hints->base_width = FrameWidth();
  hints->height = hints->base_height = FrameHeight();
  XSetWMNormalHints(display_, window_, hints);
  XFree(hints);
}

void IGraphicsX11::SetEditorSize(int width, int height) {
  if (width == DesignWidth() && height == DesignHeight()) return;
  if (width <= 0 || height <= 0) return;
  CloseEntryBox(false);
  openGesture_ = -1;
  IGraphics::SetEditorSize(width, height);
  if (!window_) return;
  X11ErrorTrap trap(display_);
  Ungrab();
  XResizeWindow(display_, window_, static_cast<unsigned>(Width()), static_cast<unsigned>(Height()));
  ReadWindowSize();
  PublishSizeHints();
  RedrawAtNewSize();
}

bool IGraphicsX11::SetScale(double scale) {
  const double before = Scale();
  if (window_) {
    double limited = std::min(std::max(scale, kMinScale), kMaxScale);
    if (!(limited == limited) || limited == before) return false;
    CloseEntryBox(false);
    EndOpenGesture();
  }
  if (!IGraphics::SetScale(scale)) return false;
  if (!window_ || fittingHostWindow_) return true;
  X11ErrorTrap trap(display_);
  if (!Resizing()) Ungrab();  // a drag of the resize handle keeps the pointer
  XResizeWindow(display_, window_, static_cast<unsigned>(Width()), static_cast<unsigned>(Height()));
  ReadWindowSize();
  PublishSizeHints();
  if (CreateSurface(Width(), Height())) DrawRegion(PixelRect(0, 0, Width(), Height()));
  return true;
}

void IGraphicsX11::FitHostWindow(int width, int height) {
  if (width <= 0 || height <= 0) return;
  fittingHostWindow_ = true;
  IGraphics::FitHostWindow(width, height);
  fittingHostWindow_ = false;
  if (!window_) return;
  X11ErrorTrap trap(display_);
  if (!Resizing()) Ungrab();
  // The window stays the host's size; the part beyond the editor is filled.
  // It is configured only where the editor's smallest size is larger: never
  // back to a size the host gave earlier, which the host answers with a new
  // layout (Ardour's LV2 window flipped between two sizes for good).
  if (FrameWidth() != windowWidth_ || FrameHeight() != windowHeight_) {
    XResizeWindow(display_, window_, static_cast<unsigned>(FrameWidth()),
                  static_cast<unsigned>(FrameHeight()));
    ReadWindowSize();
  }
  PublishSizeHints();
  RedrawAtNewSize();
}

double IGraphicsX11::DesktopScale(Display* display) {
  const char* gdk = std::getenv("GDK_SCALE");
  if (gdk && gdk[0]) {
    char* end = nullptr;
    const long whole = std::strtol(gdk, &end, 10);
    if (end && *end == '\0' && whole >= 1 && whole <= 3) return static_cast<double>(whole);
  }
  double scale = 1.0;
  const char* resources = display ? XResourceManagerString(display) : nullptr;
  if (resources) {
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    char* type = nullptr;
    XrmValue value;
    if (database && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr &&
        type && std::strcmp(type, "String") == 0) {
      char* end = nullptr;
      const double dpi = std::strtod(value.addr, &end);
      // Quarter steps: 144 dpi is 1.5, not a blur of 1.49.
      if (end != value.addr && dpi >= 96.0 && dpi <= 96.0 * kMaxScale)
        scale = std::round(dpi / 96.0 * 4.0) / 4.0;
    }
    if (database) XrmDestroyDatabase(database);
  }
  return scale;
}

// ---------------------------------------------------------------- menus

PopupMenu* IGraphicsX11::ShowPopupMenu(PopupMenu* menu, const PixelRect& rect) {
  ReleaseCapture();
  if (!menu || !window_ || inMenu_) return nullptr;
  X11ErrorTrap trap(display_);
  Ungrab();
  Window child;
  int rootX = 0, rootY = 0;
  XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), rect.left, rect.bottom,
                        &rootX, &rootY, &child);
  inMenu_ = true;
  ++menusShown_;
  X11PopupMenu popup(display_, window_, Scale());
  PopupMenu* chosen = popup.Run(menu, rootX, rootY);
  inMenu_ = false;
  if (popup.OwnerDestroyed()) WindowGone();
  return chosen;
}

// ---------------------------------------------------------------- pointer

void IGraphicsX11::HideCursor() {
  if (cursorHidden_ || !window_) return;
  X11ErrorTrap trap(display_);
  Window root, child;
  int wx, wy;
  unsigned int mask;
  XQueryPointer(display_, window_, &root, &child, &savedRootX_, &savedRootY_, &wx, &wy, &mask);
  if (!blankCursor_) {
    static const char empty[8] = {};
    Pixmap bits = XCreateBitmapFromData(display_, window_, empty, 8, 8);
    XColor black{};
    blankCursor_ = XCreatePixmapCursor(display_, bits, bits, &black, &black, 0, 0);
    XFreePixmap(display_, bits);
  }
  XDefineCursor(display_, window_, blankCursor_);
  cursorHidden_ = true;
}

void IGraphicsX11::RestoreCursor() {
  if (!cursorHidden_) return;
  cursorHidden_ = false;
  if (!display_ || !window_) return;
  X11ErrorTrap trap(display_);
  XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, savedRootX_, savedRootY_);
  XUndefineCursor(display_, window_);
}

// ---------------------------------------------------------------- folders

void IGraphicsX11::HostDirectory(std::string* out) {
  if (!out) return;
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    out->clear();
    return;
  }
  path[n] = '\0';
  FolderOf(path, out);
}

void IGraphicsX11::PluginDirectory(std::string* out) {
  if (!out) return;
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&CreatePlatformGraphics), &info) || !info.dli_fname) {
    out->clear();
    return;
  }
  FolderOf(info.dli_fname, out);
}

void IGraphicsX11::DesktopDirectory(std::string* out) {
  if (!out) return;
  const std::string home = HomeFolder();
  *out = home.empty() ? std::string() : home + "/Desktop";
}

void IGraphicsX11::AppDataDirectory(std::string* out, bool systemWide) {
  if (!out) return;
  if (systemWide) {
    *out = "/usr/local/share";
    return;
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && dataHome[0] == '/') {
    *out = dataHome;
    return;
  }
  const std::string home = HomeFolder();
  *out = home.empty() ? std::string() : home + "/.local/share";
}
