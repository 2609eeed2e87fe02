// IGraphicsWin: the editor on screen under Windows.
//
// Who calls what, and when (all on the host's user-interface thread, the
// thread that owns the host's window):
//   - The bindings open the editor with OpenWindow(parent HWND) when the host
//     asks (VST2 effEditOpen, VST3 IPlugView::attached) and close it with
//     CloseWindow (effEditClose, IPlugView::removed). Opening an open editor
//     closes and recreates it at the same place and size. The window can be
//     opened and closed any number of times; controls, values and the back
//     buffer live as long as the plug-in instance.
//   - While open, the editor is a WS_CHILD window of class "IEditorWndClass"
//     (registered while at least one editor window of this module exists)
//     with redraw timer 2 every trunc(1000 / frame rate) ms. Each tick
//     invalidates the union of the dirty controls; WM_PAINT composes them
//     into the back buffer (DrawRegion) and BitBlts it to the window.
//   - Mouse, wheel and key messages become the graphics core's Handle...
//     calls; the pointer is captured from button press to release.
//   - Scale: the window follows the scale (IGraphics.h). Until the host gives
//     a content scale or the user chooses a size, it is the DPI of the
//     monitor the host's window is on: the window is made per-monitor aware
//     where Windows allows it (a child of a DPI-unaware window stays unaware,
//     at scale 1, and Windows stretches it), and a DPI change reaching it
//     re-lays it out and asks the host for the new size from the next tick.
//     Popup menus at any scale but 1 are drawn by the editor, text by GDI at
//     the scaled size.
//   - The graphics core calls the platform services (text entry, popup menu,
//     message box, file and colour dialogs, folders, clipboard, URL, pointer
//     hiding) only while the editor is open, from the same thread.
//
// Closing the window, or destroying the editor with the window open, leaves
// nothing behind: no timer, no subclassed entry box, no mouse capture, no
// pointer left hidden, and a parameter gesture begun by a press is ended.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "IGraphics.h"

class IGraphicsWin : public IGraphics {
 public:
  static constexpr UINT_PTR kRedrawTimerId = 2;
  static constexpr int kEntryBoxId = 99;
  static constexpr const char* kWindowClassName = "IEditorWndClass";

  // Entry box states.
  enum EntryState { kEntryIdle = 0, kEntryFocused = 1, kEntryRepainted = 2, kEntryCancel = 3,
                    kEntryCommit = 4 };

  IGraphicsWin(IEffectBase* plug, int width, int height, int frameRate);
  ~IGraphicsWin() override;

  // ---- Window layer operations ----
  void PresentRect(const PixelRect& rect) override;
  void CancelTextEntry() override;
  void SetEditorSize(int width, int height) override;
  bool WindowFollowsScale() const override { return true; }
  // Resizes an open window to the new scale and redraws it.
  bool SetScale(double scale) override;
  // The scale for a window's DPI, in quarter steps (144 dpi is 1.5 exactly).
  static double ScaleForDpi(unsigned int dpi);
  // The DPI Windows gives a window (96 where it cannot tell or the window is
  // not DPI aware).
  static unsigned int WindowDpi(HWND window);
  const char* DrawingApiName() override { return "Windows GDI"; }
  int ShowMessageBox(const char* text, const char* caption, int type) override;
  PopupMenu* ShowPopupMenu(PopupMenu* menu, const PixelRect& rect) override;
  void ShowTextEntry(IControl* control, const TextStyle& style, const PixelRect& rect,
                     const char* initialText, PlugParam* param) override;
  void HostDirectory(std::string* out) override;
  void PluginDirectory(std::string* out) override;
  void DesktopDirectory(std::string* out) override;
  void AppDataDirectory(std::string* out, bool systemWide) override;
  void PromptForFile(std::string* fileName, int action, std::string* directory,
                     const char* extensions) override;
  bool PromptForColour(ArgbColor* colour, const char* title) override;
  bool OpenUrl(const char* url, const char* title, const char* confirmText,
               const char* errorText) override;
  void* OpenNativeWindow(void* parent) override;
  void CloseNativeWindow() override;
  void* NativeWindow() override { return hwnd_; }
  bool ReadClipboardText(std::string* out) override;
  void HideCursor() override;
  void RestoreCursor() override;
  void CapturePointer() override;
  PIX_IBitmap* LoadImageResource(int resourceId, const char* name) override;

  // ---- State, for the bindings and tests ----
  HWND ParentWindow() const { return parent_; }
  HWND EntryBox() const { return entryBox_; }
  int EntryStateValue() const { return entryState_; }
  static int OpenWindowCount();
  // Redraw timer interval for a frame rate: trunc(1000 / rate) ms.
  static UINT TimerInterval(double frameRate);

  // ---- Pieces of the platform services with no window in them ----
  // Item text with its number prefix: kind 1 "%1d: %s", 2 "%02d: %s",
  // 3 "%03d: %s", otherwise the text alone. `number` counts from 1.
  static std::string MenuItemLabel(int prefixKind, int number, const std::string& text);
  // The menu of the tree whose command block holds `commandId`, with its
  // chosen index set; null when no block holds it. Blocks are numbered from
  // 0 in the order the menu is built: a menu's own items first, then its
  // submenus depth-first in item order.
  static PopupMenu* MenuForCommand(PopupMenu* top, int commandId);
  // The open-dialog filter for a space-separated extension list ("fxp fxb"
  // gives "*.fxp;*.fxb") and its first extension. False, with both empty,
  // for an empty list, a filter longer than 255 characters or a first
  // extension longer than 15.
  static bool BuildFileFilter(const char* extensions, std::string* filter,
                              std::string* defaultExtension);
  // Keeps only what a parameter's entry box accepts: digits and signs, and
  // the decimal point for continuous parameters.
  static bool EntryAcceptsChar(const PlugParam* param, unsigned int character);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK EntryProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void RedrawTick();
  void Paint();
  void CommitEntry();
  void CloseEntryBox();
  void HideTooltip();
  void EndOpenGesture();
  void FollowWindowDpi();
  void ForgetWindow();
  HWND MainWindow();

  HMODULE module_;
  HWND hwnd_ = nullptr;
  HWND parent_ = nullptr;
  HDC paintContext_ = nullptr;

  HWND mainWindow_ = nullptr;
  std::string mainClassName_;
  DWORD searchProcessId_ = 0;

  HWND entryBox_ = nullptr;
  IControl* entryControl_ = nullptr;
  PlugParam* entryParam_ = nullptr;
  WNDPROC entryDefaultProc_ = nullptr;
  HFONT entryFont_ = nullptr;
  int entryState_ = kEntryIdle;

  HWND tooltip_ = nullptr;
  bool tooltipShown_ = false;
  int tooltipIndex_ = -1;

  std::unique_ptr<COLORREF[]> customColours_;
  bool cursorHidden_ = false;
  POINT savedCursor_ = {-1, -1};
  // Parameter whose gesture a button press began and its release has not
  // yet ended; -1 when none.
  int openGesture_ = -1;
};
