#include "IGraphicsWin.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "IEffectBase.h"
#include "PlugParam.h"
#include "PngCodec.h"
#include "WinPlatform.h"
#include "WindowServices.h"

// Recorded by the module's entry (DllMain, InitDll) of either deliverable.
extern void* gKestruneModule;

namespace {

// Process-wide: open editor windows of this module, and the frame rate the
// next window's timer is started with. Touched only on user-interface threads.
int gOpenWindows = 0;
double gFrameRate = 25.0;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

// The per-monitor DPI functions come with Windows 10 (1607): looked up in
// user32 at run time, so that the modules load on older Windows and Wine.
using DpiContext = HANDLE;
const DpiContext kPerMonitorAwareV2 = reinterpret_cast<DpiContext>(static_cast<INT_PTR>(-4));
using SetThreadDpiContextFn = DpiContext(WINAPI*)(DpiContext);
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

using WindowDpiContextFn = DpiContext(WINAPI*)(HWND);
using AwarenessOfContextFn = int(WINAPI*)(DpiContext);
constexpr int kAwarenessPerMonitor = 2;

// The DPI awareness of the windows made while it lives, where the system
// has it: per-monitor (v2) under a per-monitor aware parent, else the
// parent's own (Windows makes a child of an unaware window unaware anyway).
// The thread's own awareness comes back afterwards.
class ChildAwareness {
 public:
  explicit ChildAwareness(HWND parent) {
    set_ = User32Function<SetThreadDpiContextFn>("SetThreadDpiAwarenessContext");
    const auto ofWindow = User32Function<WindowDpiContextFn>("GetWindowDpiAwarenessContext");
    const auto awareness =
        User32Function<AwarenessOfContextFn>("GetAwarenessFromDpiAwarenessContext");
    if (!set_ || !ofWindow || !awareness) return;
    const DpiContext parentContext = ofWindow(parent);
    if (!parentContext) return;
    previous_ = set_(awareness(parentContext) == kAwarenessPerMonitor ? kPerMonitorAwareV2
                                                                      : parentContext);
  }
  ~ChildAwareness() {
    if (set_ && previous_) set_(previous_);
  }
  ChildAwareness(const ChildAwareness&) = delete;
  ChildAwareness& operator=(const ChildAwareness&) = delete;

 private:
  SetThreadDpiContextFn set_ = nullptr;
  DpiContext previous_ = nullptr;
};

MouseMods ModsFrom(WPARAM wParam) {
  MouseMods mods;
  mods.left = (wParam & MK_LBUTTON) != 0;
  mods.right = (wParam & MK_RBUTTON) != 0;
  mods.shift = (wParam & MK_SHIFT) != 0;
  mods.control = (wParam & MK_CONTROL) != 0;
  mods.alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
  return mods;
}

// Virtual key to the controls' key code; -1 when the key is not mapped.
int KeyCodeFor(WPARAM key) {
  switch (key) {
    case VK_SPACE: return KeySpace;
    case VK_UP: return KeyUp;
    case VK_DOWN: return KeyDown;
    case VK_LEFT: return KeyLeft;
    case VK_RIGHT: return KeyRight;
    default: break;
  }
  if (key >= 0x30 && key <= 0x39) return KeyDigit0 + static_cast<int>(key - 0x30);
  if (key >= 0x41 && key <= 0x5A) return KeyA + static_cast<int>(key - 0x41);
  return -1;
}

COLORREF ColourRef(const ArgbColor& c) {
  return RGB(c.R & 255, c.G & 255, c.B & 255);
}

// The folder part of a path, with its trailing backslash; empty when the
// path has no backslash or ends with one.
void FolderOf(const char* path, std::string* out) {
  out->clear();
  const char* slash = std::strrchr(path, '\\');
  if (!slash || slash[1] == '\0') return;
  out->assign(path, static_cast<size_t>(slash - path + 1));
}

// Menu items drawn by the editor (above or below 1x): their text, and the
// sizes at the editor's scale, alive while the menu is open.
struct DrawnMenu {
  std::vector<std::unique_ptr<std::string>> labels;
  HFONT font = nullptr;
  int itemHeight = 20;
  int padding = 22;  // room for the check mark and the submenu arrow
};

// Build a Windows menu from the tree. Each menu reserves a block of command
// identifiers for its items before its submenus reserve theirs. With `drawn`
// the items are owner-drawn, at the editor's scale.
HMENU BuildMenu(const PopupMenu& menu, int* nextId, DrawnMenu* drawn) {
  HMENU handle = CreatePopupMenu();
  if (!handle) return nullptr;
  const int base = *nextId;
  *nextId += static_cast<int>(menu.items.size());
  for (size_t i = 0; i < menu.items.size(); ++i) {
    const PopupMenuItem& item = menu.items[i];
    std::string label =
        IGraphicsWin::MenuItemLabel(menu.prefixKind, static_cast<int>(i) + 1, item.text);
    const char* content = label.c_str();
    UINT drawFlag = 0;
    if (drawn) {
      drawn->labels.emplace_back(new std::string(label));
      content = reinterpret_cast<const char*>(drawn->labels.back().get());
      drawFlag = MF_OWNERDRAW;
    }
    if (item.flags & PopupMenuItem::Separator) {
      AppendMenuA(handle, MF_SEPARATOR, 0, nullptr);
    } else if (item.submenu) {
      HMENU sub = BuildMenu(*item.submenu, nextId, drawn);
      if (sub) AppendMenuA(handle, MF_POPUP | drawFlag, reinterpret_cast<UINT_PTR>(sub), content);
    } else {
      UINT flags = MF_STRING | drawFlag;
      if (item.flags & PopupMenuItem::Grayed) flags |= MF_GRAYED;
      if (item.flags & PopupMenuItem::Disabled) flags |= MF_DISABLED;
      if (item.flags & PopupMenuItem::Checked) flags |= MF_CHECKED;
      AppendMenuA(handle, flags, static_cast<UINT_PTR>(base + static_cast<int>(i)), content);
    }
  }
  return handle;
}

// The menu an editor of this module is showing (menus are modal: one at a
// time), for its owner-drawn items.
DrawnMenu* gDrawnMenu = nullptr;

void MeasureMenuItem(MEASUREITEMSTRUCT* measure) {
  const auto* label = reinterpret_cast<const std::string*>(measure->itemData);
  if (!gDrawnMenu || !label) return;
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, gDrawnMenu->font);
  SIZE extent = {0, 0};
  GetTextExtentPoint32A(dc, label->c_str(), static_cast<int>(label->size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  measure->itemWidth = static_cast<UINT>(extent.cx + 2 * gDrawnMenu->padding);
  measure->itemHeight = static_cast<UINT>(std::max<LONG>(gDrawnMenu->itemHeight, extent.cy));
}

void DrawMenuItem(const DRAWITEMSTRUCT* draw) {
  const auto* label = reinterpret_cast<const std::string*>(draw->itemData);
  if (!gDrawnMenu || !label) return;
  const bool selected = (draw->itemState & ODS_SELECTED) != 0;
  const bool grayed = (draw->itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
  FillRect(draw->hDC, &draw->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
  const COLORREF ink = GetSysColor(grayed ? COLOR_GRAYTEXT
                                          : selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
  const int pad = gDrawnMenu->padding;
  if (draw->itemState & ODS_CHECKED) {
    const int side = std::max(2, pad * 6 / 22);
    const int cx = draw->rcItem.left + pad / 2, cy = (draw->rcItem.top + draw->rcItem.bottom) / 2;
    RECT mark = {cx - side / 2, cy - side / 2, cx - side / 2 + side, cy - side / 2 + side};
    HBRUSH brush = CreateSolidBrush(ink);
    FillRect(draw->hDC, &mark, brush);
    DeleteObject(brush);
  }
  HGDIOBJ old = SelectObject(draw->hDC, gDrawnMenu->font);
  SetBkMode(draw->hDC, TRANSPARENT);
  SetTextColor(draw->hDC, ink);
  RECT text = draw->rcItem;
  text.left += pad;
  DrawTextA(draw->hDC, label->c_str(), static_cast<int>(label->size()), &text,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(draw->hDC, old);
}

PopupMenu* FindCommand(PopupMenu* menu, int commandId, int* nextBase) {
  const int base = *nextBase;
  const int count = static_cast<int>(menu->items.size());
  *nextBase += count;
  if (commandId >= base && commandId < base + count) {
    menu->chosenIndex = commandId - base;
    return menu;
  }
  for (PopupMenuItem& item : menu->items) {
    if (!item.submenu || (item.flags & PopupMenuItem::Separator)) continue;
    if (PopupMenu* found = FindCommand(item.submenu, commandId, nextBase)) return found;
  }
  return nullptr;
}

// Sets the colour dialog's title when it opens.
UINT_PTR CALLBACK ColourDialogHook(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* choose = reinterpret_cast<CHOOSECOLORA*>(lParam);
    if (choose && choose->lCustData)
      SetWindowTextA(dialog, reinterpret_cast<const char*>(choose->lCustData));
  }
  return 0;
}

struct MainWindowSearch {
  DWORD processId;
  const char* className;
  HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<MainWindowSearch*>(data);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != search->processId) return TRUE;
  char name[129] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, search->className) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HMODULE PluginModuleHandle() {
  if (gKestruneModule) return static_cast<HMODULE>(gKestruneModule);
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&PluginModuleHandle), &module);
  return module;
}

IGraphics* CreatePlatformGraphics(IEffectBase* plug, int width, int height, int frameRate) {
  return new IGraphicsWin(plug, width, height, frameRate);
}

// ---------------------------------------------------------------- life cycle

IGraphicsWin::IGraphicsWin(IEffectBase* plug, int width, int height, int frameRate)
    : IGraphics(plug, width, height, frameRate), module_(PluginModuleHandle()) {}

IGraphicsWin::~IGraphicsWin() {
  // The plug-in is being destroyed around its editor: nothing may call into
  // it any more (the bindings close the window first when they can).
  plug_ = nullptr;
  CloseNativeWindow();
  RestoreCursor();
}

int IGraphicsWin::OpenWindowCount() { return gOpenWindows; }

UINT IGraphicsWin::TimerInterval(double frameRate) {
  if (!(frameRate > 0.0)) frameRate = 25.0;
  double ms = std::trunc(1000.0 / frameRate);
  return ms < 1.0 ? 1u : static_cast<UINT>(ms);
}

void* IGraphicsWin::OpenNativeWindow(void* parentWindow) {
  HWND parent = static_cast<HWND>(parentWindow);
  if (!parent || !IsWindow(parent)) return nullptr;
  int x = 0, y = 0;
  if (hwnd_) {
    RECT r;
    GetWindowRect(hwnd_, &r);
    POINT topLeft = {r.left, r.top};
    ScreenToClient(parent, &topLeft);
    x = topLeft.x;
    y = topLeft.y;
    CloseNativeWindow();
  }
  // Until the host or the user chooses a size, the editor follows the DPI of
  // the host's window (96 for a DPI-unaware host, which Windows stretches).
  // The host sized its window by the editor's size before: it is asked again.
  if (SetDesktopScale(ScaleForDpi(WindowDpi(parent)))) RequestHostResize();
  const int w = Width(), h = Height();
  // The first paint draws into it.
  if (!BackBuffer()) CreateBackBuffer();

  if (gOpenWindows++ == 0) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = module_;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    // Still registered when a host destroyed an editor's parent before
    // closing the editor: the class is reused.
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      --gOpenWindows;
      return nullptr;
    }
  }
  gFrameRate = FrameRate();
  parent_ = parent;
  HWND created = nullptr;
  {
    // A per-monitor aware child of an aware host gets the monitor's pixels.
    ChildAwareness awareness(parent);
    created = CreateWindowExA(0, kWindowClassName, "IEditor", WS_CHILD | WS_VISIBLE, x, y, w, h,
                              parent, nullptr, module_, this);
  }
  if (!created) {
    hwnd_ = nullptr;
    parent_ = nullptr;
    if (--gOpenWindows == 0) UnregisterClassA(kWindowClassName, module_);
    return nullptr;
  }
  hwnd_ = created;
  // The window's own DPI decides where it differs from its parent's.
  FollowWindowDpi();
  for (int i = 0; i < ControlCount(); ++i) ControlAt(i)->MarkDirty(false);

  if (TooltipsEnabled()) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_BAR_CLASSES};
    InitCommonControlsEx(&init);
    tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                               nullptr, module_, nullptr);
    bool ok = tooltip_ != nullptr;
    if (ok) {
      SetWindowPos(tooltip_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      TOOLINFOA tool = {};
      tool.cbSize = sizeof tool;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = hwnd_;
      tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
      tool.lpszText = const_cast<char*>("");
      ok = SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
    }
    if (!ok) {
      if (tooltip_) DestroyWindow(tooltip_);
      tooltip_ = nullptr;
      EnableTooltips(false);
    }
  }
  return hwnd_;
}

void IGraphicsWin::EndOpenGesture() {
  if (openGesture_ >= 0 && plug_) plug_->EndParamGesture(openGesture_);
  openGesture_ = -1;
}

void IGraphicsWin::CloseNativeWindow() {
  if (!hwnd_) return;
  HWND window = hwnd_;
  // Closed mid-edit or mid-drag: the box goes without committing, the
  // host's gesture is ended, and the capture is let go.
  CloseEntryBox();
  if (GetCapture() == window) ::ReleaseCapture();
  ReleaseCapture();
  EndOpenGesture();
  RestoreCursor();
  KillTimer(window, kRedrawTimerId);
  if (tooltip_) DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  tooltipShown_ = false;
  tooltipIndex_ = -1;
  // No message of the dying window reaches this object any more.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
  ForgetWindow();
}

void IGraphicsWin::ForgetWindow() {
  hwnd_ = nullptr;
  parent_ = nullptr;
  paintContext_ = nullptr;
  if (gOpenWindows > 0 && --gOpenWindows == 0) UnregisterClassA(kWindowClassName, module_);
}

// ---------------------------------------------------------------- messages

LRESULT CALLBACK IGraphicsWin::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* graphics = static_cast<IGraphicsWin*>(create->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(graphics));
    if (graphics) graphics->hwnd_ = hwnd;
    SetTimer(hwnd, kRedrawTimerId, TimerInterval(gFrameRate), nullptr);
    SetFocus(hwnd);
    return 0;
  }
  auto* graphics = reinterpret_cast<IGraphicsWin*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!graphics || hwnd != graphics->hwnd_) return DefWindowProcA(hwnd, message, wParam, lParam);
  return graphics->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT IGraphicsWin::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (entryBox_ && entryState_ == kEntryFocused) {
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) {
      entryState_ = kEntryCancel;
      return 0;
    }
    if (message != WM_NCDESTROY) return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_CLOSE:
      CloseWindow();
      return 0;
    case WM_KEYDOWN: {
      const int key = KeyCodeFor(wParam);
      bool handled = false;
      if (key >= 0) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(hwnd, &p);
        handled = HandleKey(p.x, p.y, key);
      }
      if (handled) return 0;
      HWND root = GetAncestor(hwnd, GA_ROOT);
      if (root && root != hwnd) SendMessageA(root, message, wParam, lParam);
      return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    case WM_KEYUP: {
      HWND root = GetAncestor(hwnd, GA_ROOT);
      if (root && root != hwnd) SendMessageA(root, message, wParam, lParam);
      return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    case WM_TIMER:
      if (wParam == kRedrawTimerId) RedrawTick();
      return 0;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (!measure || measure->CtlType != ODT_MENU)
        return DefWindowProcA(hwnd, message, wParam, lParam);
      MeasureMenuItem(measure);
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!draw || draw->CtlType != ODT_MENU) return DefWindowProcA(hwnd, message, wParam, lParam);
      DrawMenuItem(draw);
      return TRUE;
    }
    case WM_DPICHANGED:
    case WM_DPICHANGED_AFTERPARENT:
      // Moved to a monitor of another DPI: laid out anew, and the host is
      // asked for the size from the next tick (not from inside its move).
      FollowWindowDpi();
      return 0;
    case WM_CTLCOLOREDIT: {
      if (!entryControl_) return DefWindowProcA(hwnd, message, wParam, lParam);
      HDC dc = reinterpret_cast<HDC>(wParam);
      const TextStyle& style = entryControl_->Style();
      SetBkColor(dc, ColourRef(style.entryBackgroundColour));
      SetTextColor(dc, ColourRef(style.entryTextColour));
      SetBkMode(dc, OPAQUE);
      SetDCBrushColor(dc, ColourRef(style.entryBackgroundColour));
      return reinterpret_cast<LRESULT>(GetStockObject(DC_BRUSH));
    }
    case WM_MOUSEMOVE: {
      const MouseMods mods = ModsFrom(wParam);
      if (wParam & (MK_LBUTTON | MK_RBUTTON)) {
        if (GetCapture() == hwnd && !entryBox_) HandleMouseDrag(x, y, mods);
        return 0;
      }
      if (HandleMouseOver(x, y, mods)) {
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd;
        track.dwHoverTime = HOVER_DEFAULT;
        if (TooltipsEnabled() && tooltip_ && MouseOverIndex() != tooltipIndex_) {
          tooltipIndex_ = MouseOverIndex();
          HideTooltip();
          if (tooltipIndex_ >= 0) track.dwFlags |= TME_HOVER;
        }
        TrackMouseEvent(&track);
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      HideTooltip();
      if (entryBox_) {
        entryState_ = kEntryCommit;
        return 0;
      }
      SetFocus(hwnd);
      SetCapture(hwnd);
      // A gesture left open by a lost release is ended before a new one.
      EndOpenGesture();
      HandleMouseDown(x, y, ModsFrom(wParam));
      IControl* pressed = ControlAt(MouseCaptureIndex());
      if (pressed && pressed->ParamIndex() >= 0) openGesture_ = pressed->ParamIndex();
      return 0;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
      if (GetCapture() == hwnd) ::ReleaseCapture();
      openGesture_ = -1;  // the release below ends it
      HandleMouseUp(x, y, ModsFrom(wParam));
      return 0;
    case WM_LBUTTONDBLCLK:
      HandleDoubleClick(x, y, ModsFrom(wParam));
      return 0;
    case WM_MOUSEWHEEL: {
      if (entryBox_) {
        entryState_ = kEntryCancel;
        return 0;
      }
      RECT r;
      GetWindowRect(hwnd, &r);
      const int steps = static_cast<short>(HIWORD(wParam)) / 120;
      HandleWheel(x - r.left, y - r.top, ModsFrom(LOWORD(wParam)), steps);
      return 0;
    }
    case WM_MOUSEHOVER: {
      if (tooltip_) {
        IControl* c = ControlAt(tooltipIndex_);
        std::string text = c ? c->Tooltip() : std::string();
        TOOLINFOA tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = hwnd;
        tool.uId = reinterpret_cast<UINT_PTR>(hwnd);
        tool.lpszText = const_cast<char*>(text.c_str());
        SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
        tooltipShown_ = true;
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      HideTooltip();
      HandleMouseLeave();
      return 0;
    case WM_NCDESTROY:
      // The host destroyed its window (and with it this child) without
      // closing the editor first: forget the window; the class stays
      // registered and is reused by the next editor.
      if (entryBox_) {
        entryBox_ = nullptr;
        entryDefaultProc_ = nullptr;
        entryControl_ = nullptr;
        entryParam_ = nullptr;
        entryState_ = kEntryIdle;
        if (entryFont_) DeleteObject(entryFont_);
        entryFont_ = nullptr;
      }
      tooltip_ = nullptr;
      ReleaseCapture();
      EndOpenGesture();
      hwnd_ = nullptr;
      parent_ = nullptr;
      if (gOpenWindows > 0) --gOpenWindows;
      return DefWindowProcA(hwnd, message, wParam, lParam);
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

void IGraphicsWin::Paint() {
  RECT area;
  if (!GetUpdateRect(hwnd_, &area, FALSE)) {
    ValidateRect(hwnd_, nullptr);
    return;
  }
  PAINTSTRUCT paint;
  paintContext_ = BeginPaint(hwnd_, &paint);
  DrawRegion(PixelRect(area.left, area.top, area.right, area.bottom));
  paintContext_ = nullptr;
  EndPaint(hwnd_, &paint);
}

void IGraphicsWin::PresentRect(const PixelRect& rect) {
  if (!hwnd_ || !BackBuffer() || !BackBuffer()->NativeContext()) return;
  HDC source = static_cast<HDC>(BackBuffer()->NativeContext());
  HDC target = paintContext_ ? paintContext_ : GetDC(hwnd_);
  if (!target) return;
  BitBlt(target, rect.left, rect.top, rect.Width(), rect.Height(), source, rect.left, rect.top,
         SRCCOPY);
  if (!paintContext_) ReleaseDC(hwnd_, target);
}

void IGraphicsWin::RedrawTick() {
  // Outside any host call: the host may be told of a load now.
  if (plug_) plug_->UserInterfaceTick();
  if (entryBox_ && entryState_ != kEntryIdle) {
    switch (entryState_) {
      case kEntryFocused:
      case kEntryRepainted:
        entryState_ = kEntryIdle;
        break;
      case kEntryCancel:
        CloseEntryBox();
        break;
      case kEntryCommit:
        CommitEntry();
        CloseEntryBox();
        break;
      default:
        entryState_ = kEntryIdle;
        break;
    }
    return;
  }
  if (hostResizePending_) {
    hostResizePending_ = false;
    if (plug_) plug_->ResizeEditor();
    if (!hwnd_) return;
  }
  PixelRect dirty;
  if (!CollectDirtyRect(&dirty)) return;
  RECT r = {dirty.left, dirty.top, dirty.right, dirty.bottom};
  InvalidateRect(hwnd_, &r, FALSE);
  if (entryBox_ && entryControl_) {
    // The box paints itself: the control under it is left alone (its
    // rectangle is in design units, the window in pixels).
    const PixelRect c = ToPixels(entryControl_->Rect());
    RECT under = {c.left, c.top, c.right, c.bottom};
    ValidateRect(hwnd_, &under);
    UpdateWindow(hwnd_);
    entryState_ = kEntryRepainted;
  } else {
    UpdateWindow(hwnd_);
  }
}

void IGraphicsWin::HideTooltip() {
  if (tooltip_ && tooltipShown_) SendMessageA(tooltip_, TTM_POP, 0, 0);
  tooltipShown_ = false;
}

void IGraphicsWin::CapturePointer() {
  if (hwnd_) SetCapture(hwnd_);
}

// ---------------------------------------------------------------- text entry

bool IGraphicsWin::EntryAcceptsChar(const PlugParam* param, unsigned int character) {
  return window_services::EntryAcceptsChar(param, character);
}

void IGraphicsWin::ShowTextEntry(IControl* control, const TextStyle& style, const PixelRect& rect,
                                 const char* initialText, PlugParam* param) {
  if (!control || entryBox_ || !hwnd_) return;
  DWORD windowStyle = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_MULTILINE;
  if (style.alignment == AlignCentre) windowStyle |= ES_CENTER;
  if (style.alignment == AlignRight) windowStyle |= ES_RIGHT;
  HWND box = CreateWindowExA(0, "EDIT", initialText ? initialText : "", windowStyle, rect.left,
                             rect.top, rect.right - rect.left + 1, rect.bottom - rect.top + 1,
                             hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEntryBoxId)),
                             module_, nullptr);
  if (!box) return;
  entryFont_ = CreateFontA(style.size, 0, 0, 0, style.style == TextBold ? FW_BOLD : 0,
                           style.style == TextItalic ? TRUE : FALSE, 0, 0, 0, 0, 0, 0, 0,
                           style.fontName);
  if (entryFont_) SendMessageA(box, WM_SETFONT, reinterpret_cast<WPARAM>(entryFont_), 0);
  SendMessageA(box, EM_LIMITTEXT, static_cast<WPARAM>(control->TextEntryLength()), 0);
  SendMessageA(box, EM_SETSEL, 0, -1);
  entryBox_ = box;
  SetFocus(box);
  entryDefaultProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EntryProc)));
  entryControl_ = control;
  entryParam_ = param;
}

LRESULT CALLBACK IGraphicsWin::EntryProc(HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  auto* graphics =
      reinterpret_cast<IGraphicsWin*>(GetWindowLongPtrA(GetParent(hwnd), GWLP_USERDATA));
  if (!graphics || hwnd != graphics->entryBox_ || !graphics->entryDefaultProc_)
    return DefWindowProcA(hwnd, message, wParam, lParam);
  graphics->HideTooltip();
  switch (message) {
    case WM_SETFOCUS:
      graphics->entryState_ = kEntryFocused;
      break;
    case WM_KILLFOCUS:
      graphics->entryState_ = kEntryCommit;
      break;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        graphics->entryState_ = kEntryCommit;
        return 0;
      }
      if (wParam == VK_ESCAPE) {
        graphics->entryState_ = kEntryCancel;
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam != VK_BACK && graphics->entryParam_ &&
          !EntryAcceptsChar(graphics->entryParam_, static_cast<unsigned int>(wParam)))
        return 0;
      break;
    case WM_GETDLGCODE:
      if (!graphics->entryParam_) {
        LRESULT code = CallWindowProcA(graphics->entryDefaultProc_, hwnd, message, wParam, lParam);
        const MSG* examined = reinterpret_cast<const MSG*>(lParam);
        if (examined && examined->message == WM_KEYDOWN && examined->wParam == VK_RETURN)
          code |= DLGC_WANTALLKEYS;
        return code;
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == 1) {
        graphics->entryState_ = kEntryCommit;
        return 0;
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(graphics->entryDefaultProc_, hwnd, message, wParam, lParam);
}

void IGraphicsWin::CommitEntry() {
  if (!entryBox_ || !entryControl_) return;
  char text[32] = {};
  SendMessageA(entryBox_, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  text[sizeof text - 1] = '\0';
  if (!entryParam_) {
    entryControl_->ReceiveEnteredText(text);
    return;
  }
  const double plain = window_services::PlainFromEntryText(*entryParam_, text);
  entryControl_->ReceiveUserValue(entryParam_->NormalizedFromPlain(plain));
}

void IGraphicsWin::CloseEntryBox() {
  if (entryBox_) {
    HWND box = entryBox_;
    if (entryDefaultProc_)
      SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entryDefaultProc_));
    entryBox_ = nullptr;
    DestroyWindow(box);
  }
  if (entryFont_) DeleteObject(entryFont_);
  entryFont_ = nullptr;
  entryControl_ = nullptr;
  entryParam_ = nullptr;
  entryDefaultProc_ = nullptr;
  entryState_ = kEntryIdle;
}

void IGraphicsWin::CancelTextEntry() {
  if (entryBox_) entryState_ = kEntryCancel;
}

// ---------------------------------------------------------------- menus

std::string IGraphicsWin::MenuItemLabel(int prefixKind, int number, const std::string& text) {
  return window_services::MenuItemLabel(prefixKind, number, text);
}

PopupMenu* IGraphicsWin::MenuForCommand(PopupMenu* top, int commandId) {
  if (!top || commandId < 0) return nullptr;
  int nextBase = 0;
  return FindCommand(top, commandId, &nextBase);
}

PopupMenu* IGraphicsWin::ShowPopupMenu(PopupMenu* menu, const PixelRect& rect) {
  ReleaseCapture();
  if (!menu || !hwnd_) return nullptr;
  int nextId = 0;
  // At 1x the system draws the menu; at any other scale the editor draws it
  // with GDI text at the scaled size (Windows would draw it at its own DPI).
  DrawnMenu drawn;
  const bool ownerDrawn = Scale() != 1.0 && !gDrawnMenu;
  if (ownerDrawn) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    LOGFONTA face = {};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      face = metrics.lfMenuFont;
    else
      std::strcpy(face.lfFaceName, "Tahoma");
    face.lfHeight = -PixelLength(12);
    face.lfWidth = 0;
    drawn.font = CreateFontIndirectA(&face);
    drawn.itemHeight = PixelLength(20);
    drawn.padding = PixelLength(22);
  }
  HMENU handle = BuildMenu(*menu, &nextId, ownerDrawn && drawn.font ? &drawn : nullptr);
  if (!handle) {
    if (drawn.font) DeleteObject(drawn.font);
    return nullptr;
  }
  if (ownerDrawn && drawn.font) gDrawnMenu = &drawn;
  POINT corner = {rect.left, rect.bottom};
  ClientToScreen(hwnd_, &corner);
  PopupMenu* result = nullptr;
  if (TrackPopupMenu(handle, TPM_LEFTBUTTON, corner.x, corner.y, 0, hwnd_, nullptr)) {
    MSG message;
    if (PeekMessageA(&message, hwnd_, WM_COMMAND, WM_COMMAND, PM_REMOVE) &&
        HIWORD(message.wParam) == 0)
      result = MenuForCommand(menu, LOWORD(message.wParam));
  }
  DestroyMenu(handle);
  if (gDrawnMenu == &drawn) gDrawnMenu = nullptr;
  if (drawn.font) DeleteObject(drawn.font);
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
  return result;
}

// ---------------------------------------------------------------- message box

HWND IGraphicsWin::MainWindow() {
  if (parent_) {
    HWND top = parent_;
    for (HWND up = GetParent(top); up; up = GetParent(up)) top = up;
    mainWindow_ = top;
    char name[129] = {};
    GetClassNameA(top, name, sizeof name);
    mainClassName_ = name;
  } else if (!mainClassName_.empty() && (!mainWindow_ || !IsWindow(mainWindow_))) {
    searchProcessId_ = GetCurrentProcessId();
    MainWindowSearch search = {searchProcessId_, mainClassName_.c_str(), nullptr};
    EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
    mainWindow_ = search.found;
  }
  return mainWindow_;
}

int IGraphicsWin::ShowMessageBox(const char* text, const char* caption, int type) {
  return MessageBoxA(MainWindow(), text ? text : "", caption ? caption : "",
                     static_cast<UINT>(type));
}

// ---------------------------------------------------------------- dialogs

bool IGraphicsWin::BuildFileFilter(const char* extensions, std::string* filter,
                                   std::string* defaultExtension) {
  filter->clear();
  defaultExtension->clear();
  if (!extensions) return false;
  const char* p = extensions;
  while (*p) {
    while (*p == ' ') ++p;
    const char* start = p;
    while (*p && *p != ' ') ++p;
    if (p == start) break;
    std::string ext(start, static_cast<size_t>(p - start));
    if (defaultExtension->empty()) *defaultExtension = ext;
    if (!filter->empty()) *filter += ';';
    *filter += "*." + ext;
  }
  if (filter->empty() || filter->size() > 255 || defaultExtension->size() > 15) {
    filter->clear();
    defaultExtension->clear();
    return false;
  }
  return true;
}

void IGraphicsWin::PromptForFile(std::string* fileName, int action, std::string* directory,
                                 const char* extensions) {
  if (!fileName) return;
  std::string filter, defaultExtension;
  // A list the dialog cannot describe is refused before any dialog opens.
  if (!hwnd_ || !BuildFileFilter(extensions, &filter, &defaultExtension)) {
    fileName->clear();
    return;
  }
  std::string startDirectory = directory ? *directory : std::string();
  if (startDirectory.empty()) DesktopDirectory(&startDirectory);

  char path[256] = {};
  std::strncpy(path, fileName->c_str(), sizeof path - 1);
  // Description and pattern are the same text; the list ends with two NULs.
  std::string filterPair = filter + '\0' + filter + '\0' + '\0';

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = hwnd_;
  dialog.lpstrFilter = filterPair.c_str();
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrInitialDir = startDirectory.c_str();
  dialog.lpstrDefExt = defaultExtension.c_str();
  BOOL chosen;
  if (action == 1) {
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    chosen = GetSaveFileNameA(&dialog);
  } else {
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    chosen = GetOpenFileNameA(&dialog);
  }
  if (!chosen) {
    fileName->clear();
    return;
  }
  *fileName = path;
  if (directory) {
    char drive[_MAX_DRIVE] = {}, folder[_MAX_DIR] = {};
    _splitpath(path, drive, folder, nullptr, nullptr);
    char joined[_MAX_DRIVE + _MAX_DIR] = {};
    std::snprintf(joined, sizeof joined, "%s%s", drive, folder);
    *directory = joined;
  }
}

bool IGraphicsWin::PromptForColour(ArgbColor* colour, const char* title) {
  if (!hwnd_ || !colour) return false;
  if (!customColours_) customColours_.reset(new COLORREF[16]());
  CHOOSECOLORA choose = {};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = hwnd_;
  choose.rgbResult = ColourRef(*colour);
  choose.lpCustColors = customColours_.get();
  choose.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ENABLEHOOK | CC_SOLIDCOLOR | CC_ANYCOLOR;
  choose.lpfnHook = ColourDialogHook;
  choose.lCustData = reinterpret_cast<LPARAM>(title ? title : "");
  if (!ChooseColorA(&choose)) return false;
  colour->R = GetRValue(choose.rgbResult);
  colour->G = GetGValue(choose.rgbResult);
  colour->B = GetBValue(choose.rgbResult);
  return true;
}

bool IGraphicsWin::OpenUrl(const char* url, const char* title, const char* confirmText,
                           const char* errorText) {
  if (!url) return false;
  if (confirmText &&
      MessageBoxA(hwnd_, confirmText, title ? title : "", MB_YESNO) != IDYES)
    return false;
  // The shell reports a URL it cannot open; no network API of our own.
  HINSTANCE launched = ShellExecuteA(hwnd_, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(launched) > 32) return true;
  if (errorText) MessageBoxA(hwnd_, errorText, title ? title : "", MB_OK);
  return false;
}

// ---------------------------------------------------------------- folders, clipboard, pointer

void IGraphicsWin::HostDirectory(std::string* out) {
  if (!out) return;
  char path[256] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  FolderOf(path, out);
}

void IGraphicsWin::PluginDirectory(std::string* out) {
  if (!out) return;
  char path[256] = {};
  GetModuleFileNameA(module_, path, sizeof path);
  FolderOf(path, out);
}

void IGraphicsWin::DesktopDirectory(std::string* out) {
  if (!out) return;
  char path[MAX_PATH] = {};
  if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOP, FALSE))
    *out = path;
  else
    out->clear();
}

void IGraphicsWin::AppDataDirectory(std::string* out, bool systemWide) {
  if (!out) return;
  char path[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, systemWide ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA,
                                 nullptr, 0, path)))
    *out = path;
  else
    out->clear();
}

bool IGraphicsWin::ReadClipboardText(std::string* out) {
  if (!out) return false;
  out->clear();
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(hwnd_)) return false;
  bool ok = false;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const wchar_t* wide = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      std::vector<char> utf8(static_cast<size_t>(size));
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
      *out = utf8.data();
      ok = true;
    }
    GlobalUnlock(data);
  }
  CloseClipboard();
  return ok;
}

void IGraphicsWin::HideCursor() {
  if (cursorHidden_) return;
  GetCursorPos(&savedCursor_);
  ShowCursor(FALSE);
  cursorHidden_ = true;
}

void IGraphicsWin::RestoreCursor() {
  if (!cursorHidden_) return;
  SetCursorPos(savedCursor_.x, savedCursor_.y);
  ShowCursor(TRUE);
  cursorHidden_ = false;
}

// ---------------------------------------------------------------- size

void IGraphicsWin::SetEditorSize(int width, int height) {
  // Design sizes: at another scale than 1 the window's pixels differ.
  if (width == DesignWidth() && height == DesignHeight()) return;
  if (width <= 0 || height <= 0) return;
  CloseEntryBox();
  openGesture_ = -1;
  if (!hwnd_) {
    IGraphics::SetEditorSize(width, height);
    return;
  }
  // The windows first: a VST2 host asked for the new size afterwards sets
  // its own window's size over what this did to it.
  const int newWidth = PixelLength(width), newHeight = PixelLength(height);
  const int dw = newWidth - Width();
  const int dh = newHeight - Height();
  const UINT flags = SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER;
  SetWindowPos(hwnd_, nullptr, 0, 0, newWidth, newHeight, flags);
  const int api = plug_ ? plug_->PluginApi() : 0;
  auto isPlainChild = [](HWND w) {
    return (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) &&
           !(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_MDICHILD);
  };
  RECT r;
  if (api != 1 && api != 3 && isPlainChild(hwnd_)) {
    HWND parent = GetParent(hwnd_);
    if (parent) {
      GetWindowRect(parent, &r);
      SetWindowPos(parent, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh, flags);
      if (isPlainChild(parent)) {
        HWND grandparent = GetParent(parent);
        if (grandparent) {
          GetWindowRect(grandparent, &r);
          SetWindowPos(grandparent, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                       flags);
        }
      }
    }
  }
  IGraphics::SetEditorSize(width, height);
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

bool IGraphicsWin::SetScale(double scale) {
  if (hwnd_) {
    const double limited = std::min(std::max(scale, kMinScale), kMaxScale);
    if (!(limited == limited) || limited == Scale()) return false;
    CloseEntryBox();
    EndOpenGesture();
  }
  if (!IGraphics::SetScale(scale)) return false;
  if (!hwnd_) return true;
  // A drag of the resize handle keeps the pointer.
  if (!Resizing() && GetCapture() == hwnd_) ::ReleaseCapture();
  SetWindowPos(hwnd_, nullptr, 0, 0, Width(), Height(),
               SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

double IGraphicsWin::ScaleForDpi(unsigned int dpi) {
  if (dpi <= 96) return 1.0;
  const double scale = std::round(dpi / 96.0 * 4.0) / 4.0;
  return std::min(scale, kMaxScale);
}

unsigned int IGraphicsWin::WindowDpi(HWND window) {
  static const GetDpiForWindowFn dpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (!window || !dpiForWindow) return 96;
  const UINT dpi = dpiForWindow(window);
  return dpi == 0 ? 96 : dpi;
}

void IGraphicsWin::FollowWindowDpi() {
  if (hwnd_ && SetDesktopScale(ScaleForDpi(WindowDpi(hwnd_)))) RequestHostResize();
}

// ---------------------------------------------------------------- images

PIX_IBitmap* IGraphicsWin::LoadImageResource(int resourceId, const char* name) {
  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  if (!dot || _stricmp(dot + 1, "png") != 0) return nullptr;
  HRSRC resource = FindResourceA(module_, MAKEINTRESOURCEA(resourceId), "PNG");
  if (!resource) return nullptr;
  const DWORD size = SizeofResource(module_, resource);
  if (size < 8) return nullptr;
  HGLOBAL loaded = LoadResource(module_, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return nullptr;
  // Resource memory is read in place and belongs to the module.
  return LoadPngFromMemory(static_cast<const unsigned char*>(bytes), size);
}
