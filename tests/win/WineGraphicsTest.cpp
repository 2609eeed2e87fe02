// The Windows window layer, text and image decoding, linked directly (the
// editor images come with the graphics library as PNG resources of this
// program, found by FindResourceA like in the modules).
//
// Usage: kestrune-wine-graphics <Linux reference folder or ->
#include <windows.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "CaseData.h"
#include "IEffectBase.h"
#include "IGraphicsWin.h"
#include "PIX_Bitmap.h"
#include "PIX_Font.h"
#include "PngCodec.h"
#include "WinPlatform.h"
#include "WineCheck.h"

// The module handle the plug-in entries record; this program has none, so
// the window layer takes the module that holds its code (this program).
void* gKestruneModule = nullptr;

using namespace kestrune_wine;

namespace {

std::string gReferenceFolder;

// A plug-in with one integer parameter 0..100 and one continuous -1..1,
// recording what the editor tells the host.
class ProbePlug : public IEffectBase {
 public:
  static EffectIdentity Identity() {
    EffectIdentity id;
    id.paramCount = 2;
    id.channelConfig = "2-2";
    id.presetCount = 1;
    id.effectName = "Probe";
    return id;
  }
  ProbePlug() : IEffectBase(Identity(), kApiVst2) {
    ParamAt(0)->InitInteger("N", 0, 0, 100, "");
    ParamAt(1)->InitContinuous("X", 0, -1, 1, 0.01, "", "", 1);
  }
  void BeginParamGesture(int index) override { log += "b" + std::to_string(index); }
  void NotifyHostParam(int index, double) override { log += "a" + std::to_string(index); }
  void EndParamGesture(int index) override { log += "e" + std::to_string(index); }
  void NotifyHostPresetChange() override {}
  int HostSamplePosition() override { return 0; }
  double HostTempo() override { return 120; }
  void HostTimeSignature(int* n, int* d) override { *n = *d = 4; }
  void HostTimeInfo(::HostTimeInfo*) override {}
  void ResizeEditor() override {}
  bool SendMidiOut(const MidiMessage&) override { return false; }
  bool SendSysExOut(const SysExMessage&) override { return false; }
  std::string log;
};

// A control that paints a flat colour and remembers values the user gave it.
class ProbeControl : public IControl {
 public:
  ProbeControl(IEffectBase* plug, const PixelRect& rect, int param) : IControl(plug, rect, param) {}
  bool Paint(IGraphics*) override { return true; }
  void ReceiveUserValue(double value) override {
    received = value;
    IControl::ReceiveUserValue(value);
  }
  void ReceiveEnteredText(const char* text) override { entered = text; }
  double received = -1.0;
  std::string entered;
};

int gHostKeyDowns = 0;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN) ++gHostKeyDowns;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeHostWindow(int width, int height) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KestruneProbeHost";
    RegisterClassA(&wc);
    registered = true;
  }
  RECT r = {0, 0, width, height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExA(0, "KestruneProbeHost", "probe host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                         10, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// The height of the popup menu open now, read by a timer inside the menu's
// loop, which then closes the menu.
int gMenuHeight = -1;

void CALLBACK MeasureOpenMenu(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND menu = FindWindowA("#32768", nullptr);
  RECT r;
  if (menu && IsWindowVisible(menu) && GetWindowRect(menu, &r)) gMenuHeight = r.bottom - r.top;
  EndMenu();
}

int PopupMenuHeight(IGraphicsWin* graphics, int items) {
  PopupMenu menu;
  menu.items.resize(static_cast<size_t>(items));
  for (PopupMenuItem& item : menu.items) item.text = "Item";
  menu.items[0].flags = PopupMenuItem::Checked;
  gMenuHeight = -1;
  SetTimer(nullptr, 0, 300, MeasureOpenMenu);
  graphics->ShowPopupMenu(&menu, PixelRect(10, 10, 20, 20));
  return gMenuHeight;
}

std::map<int, std::string> ReadPngHashes() {
  std::map<int, std::string> hashes;
  FILE* f = std::fopen((gReferenceFolder + "/png-hashes.txt").c_str(), "r");
  if (!f) return hashes;
  char line[128];
  while (std::fgets(line, sizeof line, f)) {
    int id = 0;
    if (std::sscanf(line, "%d", &id) == 1) {
      std::string text = line;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      hashes[id] = text;
    }
  }
  std::fclose(f);
  return hashes;
}

void ImagesMatchLinux() {
  const std::map<int, std::string> linux = ReadPngHashes();
  if (!CHECK(linux.size() == 16, "%d Linux hashes", static_cast<int>(linux.size()))) return;
  IGraphicsWin graphics(nullptr, 10, 10, 25);
  for (int id = 104; id <= 119; ++id) {
    std::unique_ptr<PIX_IBitmap> bitmap(graphics.LoadImageResource(id, "resources/img/X.png"));
    if (!CHECK(bitmap != nullptr, "image %d does not decode with WIC", id)) continue;
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %d %016" PRIx64, id, bitmap->Width(), bitmap->Height(),
                  PixelHash(bitmap->PixelData(), bitmap->Width(), bitmap->Height(),
                            bitmap->RowSpan()));
    auto it = linux.find(id);
    CHECK(it != linux.end() && it->second == line, "Windows '%s' Linux '%s'", line,
          it == linux.end() ? "" : it->second.c_str());
  }
}

void BadImagesAreRefused() {
  IGraphicsWin graphics(nullptr, 10, 10, 25);
  std::unique_ptr<PIX_IBitmap> wrongExtension(graphics.LoadImageResource(105, "resources/img/BG.bmp"));
  CHECK(wrongExtension == nullptr);
  std::unique_ptr<PIX_IBitmap> upperCase(graphics.LoadImageResource(105, "resources/img/BG.PNG"));
  CHECK(upperCase != nullptr && upperCase->Width() == 912 && upperCase->Height() == 287);
  std::unique_ptr<PIX_IBitmap> missing(graphics.LoadImageResource(200, "x.png"));
  CHECK(missing == nullptr);
  const unsigned char signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  CHECK(LoadPngFromMemory(signature, 7) == nullptr);
  CHECK(LoadPngFromMemory(signature, 8) == nullptr);
  // A valid image whose data is cut short decodes to nothing.
  HRSRC resource = FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(110), "PNG");
  if (!CHECK(resource != nullptr)) return;
  const auto* bytes = static_cast<const unsigned char*>(
      LockResource(LoadResource(GetModuleHandleA(nullptr), resource)));
  const DWORD size = SizeofResource(GetModuleHandleA(nullptr), resource);
  std::unique_ptr<PIX_MemBitmap> whole(LoadPngFromMemory(bytes, size));
  CHECK(whole != nullptr && whole->Width() == 66 && whole->Height() == 136);
  std::unique_ptr<PIX_MemBitmap> cut(LoadPngFromMemory(bytes, size / 2));
  CHECK(cut == nullptr);
}

void TextUnderWineUsesGlyphsRasterizedByGdi() {
  CHECK(RunningUnderWine(), "the Software\\Wine key should be there under Wine");
  TextStyle style("Verdana", 14, ArgbColor(255, 255, 255, 255));
  PIX_CachedFont* font = IGraphics::FindOrCreateFont(style);
  if (!CHECK(font != nullptr && font->LineHeight() > 0)) return;
  CHECK(IGraphics::FindOrCreateFont(style) == font, "the cache hands out one font per style");
  PIX_SysBitmap target;
  target.Resize(100, 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 100; ++x) target.Row(y)[x] = 0xFF000000u;
  font->SetTextColour(0xFFFFFFFFu);
  PixelRect rect(0, 0, 100, 20);
  font->DrawTextInto(&target, "Version 3.1.0", -1, &rect, TextFormatCentre | TextFormatNoClip);
  int lit = 0, leftmost = 100, rightmost = -1;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 100; ++x)
      if ((target.Row(y)[x] & 0xFF) > 128) {
        ++lit;
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
  CHECK(lit > 40, "%d lit pixels", lit);
  // Centred: the ink's middle is near the rectangle's middle.
  CHECK(std::abs((leftmost + rightmost) / 2 - 50) <= 3, "ink from %d to %d", leftmost, rightmost);
  // A character outside ASCII is rendered once and found again.
  const size_t before = font->ExtendedGlyphCount();
  font->DrawTextInto(&target, "\xC3\xA9\xC3\xA9", -1, &rect, TextFormatNoClip);
  CHECK(font->ExtendedGlyphCount() == before + 1);
}

void MenuNumberingAndFilters() {
  CHECK(IGraphicsWin::MenuItemLabel(2, 9, "Nine") == "09: Nine");
  CHECK(IGraphicsWin::MenuItemLabel(1, 3, "Three") == "3: Three");
  CHECK(IGraphicsWin::MenuItemLabel(3, 12, "x") == "012: x");
  CHECK(IGraphicsWin::MenuItemLabel(0, 5, "Plain") == "Plain");

  // Top menu: 3 items (ids 0..2); its submenu at item 1 has 2 items (3..4),
  // whose own submenu has 2 (5..6); the submenu at item 2 comes after (7..8).
  PopupMenu top;
  top.items.resize(3);
  top.items[1].submenu = new PopupMenu;
  top.items[1].submenu->items.resize(2);
  top.items[1].submenu->items[0].submenu = new PopupMenu;
  top.items[1].submenu->items[0].submenu->items.resize(2);
  top.items[2].submenu = new PopupMenu;
  top.items[2].submenu->items.resize(2);
  CHECK(IGraphicsWin::MenuForCommand(&top, 2) == &top && top.chosenIndex == 2);
  PopupMenu* deep = top.items[1].submenu->items[0].submenu;
  CHECK(IGraphicsWin::MenuForCommand(&top, 6) == deep && deep->chosenIndex == 1);
  CHECK(IGraphicsWin::MenuForCommand(&top, 7) == top.items[2].submenu &&
        top.items[2].submenu->chosenIndex == 0);
  CHECK(IGraphicsWin::MenuForCommand(&top, 9) == nullptr);

  std::string filter, extension;
  CHECK(IGraphicsWin::BuildFileFilter("fxp fxb", &filter, &extension) && filter == "*.fxp;*.fxb" &&
        extension == "fxp");
  CHECK(!IGraphicsWin::BuildFileFilter("abcdefghijklmnop", &filter, &extension) && filter.empty(),
        "a first extension of 16 characters is refused");
  std::string many;
  for (int i = 0; i < 60; ++i) many += "ext ";
  CHECK(!IGraphicsWin::BuildFileFilter(many.c_str(), &filter, &extension) && filter.empty(),
        "a filter over 255 characters is refused");
  CHECK(!IGraphicsWin::BuildFileFilter("", &filter, &extension));

  CHECK(IGraphicsWin::TimerInterval(25) == 40 && IGraphicsWin::TimerInterval(30) == 33);
}

void TextEntryFiltersCommitsAndCancels() {
  ProbePlug plug;
  auto* graphics = new IGraphicsWin(&plug, 200, 100, 25);
  auto* control = new ProbeControl(&plug, PixelRect(10, 10, 60, 30), 0);
  graphics->AddControl(control);
  plug.AttachEditor(graphics);
  HWND host = MakeHostWindow(200, 100);
  if (!CHECK(graphics->OpenWindow(host))) return;
  PumpMessages(60);

  PlugParam* param = plug.ParamAt(0);
  graphics->ShowTextEntry(control, control->Style(), control->Rect(), "7", param);
  HWND box = graphics->EntryBox();
  if (!CHECK(box != nullptr)) return;
  // Typed over the selected text; the point is swallowed for an integer.
  for (char c : std::string("1.5x")) SendMessageA(box, WM_CHAR, static_cast<WPARAM>(c), 0);
  char text[32] = {};
  GetWindowTextA(box, text, sizeof text);
  CHECK(std::strcmp(text, "15") == 0, "box holds '%s'", text);
  SendMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
  CHECK(graphics->EntryStateValue() == IGraphicsWin::kEntryCommit);
  PumpMessages(150);
  CHECK(graphics->EntryBox() == nullptr && !IsWindow(box), "the box closes after the commit");
  CHECK(std::fabs(control->received - 0.15) < 1e-12, "value %f", control->received);
  CHECK(std::fabs(param->value - 15.0) < 1e-9, "parameter %f", param->value);

  // Escape cancels: nothing reaches the control.
  control->received = -1.0;
  graphics->ShowTextEntry(control, control->Style(), control->Rect(), "3", param);
  box = graphics->EntryBox();
  SendMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
  PumpMessages(150);
  CHECK(graphics->EntryBox() == nullptr && control->received == -1.0);

  // Popup menus at 2x: items twice as tall, drawn with text at that size.
  CHECK(graphics->SetScale(2.0));
  const int menuHeight = PopupMenuHeight(graphics, 4);
  CHECK(menuHeight >= 4 * 40, "a 4-item menu at 2x is %d pixels tall", menuHeight);

  // At 2x the same design size again changes nothing (the controls stay).
  graphics->SetEditorSize(200, 100);
  RECT r;
  GetClientRect(static_cast<HWND>(graphics->NativeWindow()), &r);
  if (!CHECK(graphics->ControlCount() == 1 && r.right == 400 && r.bottom == 200,
             "%d controls, window %ld x %ld", graphics->ControlCount(), r.right, r.bottom))
    return;
  CHECK(graphics->SetScale(1.0));

  // A continuous parameter keeps the decimal point.
  graphics->ShowTextEntry(control, control->Style(), control->Rect(), "", plug.ParamAt(1));
  box = graphics->EntryBox();
  for (char c : std::string("-0.25")) SendMessageA(box, WM_CHAR, static_cast<WPARAM>(c), 0);
  GetWindowTextA(box, text, sizeof text);
  CHECK(std::strcmp(text, "-0.25") == 0, "box holds '%s'", text);

  // Closing the editor with the box open: box, subclass, timer and class go.
  graphics->CloseWindow();
  CHECK(!IsWindow(box) && graphics->EntryBox() == nullptr);
  CHECK(IGraphicsWin::OpenWindowCount() == 0);
  WNDCLASSA wc;
  CHECK(!GetClassInfoA(GetModuleHandleA(nullptr), IGraphicsWin::kWindowClassName, &wc),
        "the window class is unregistered with the last editor");
  PumpMessages(100);
  DestroyWindow(host);
}

void ClosingMidDragEndsTheGestureAndReleasesCapture() {
  ProbePlug plug;
  auto* graphics = new IGraphicsWin(&plug, 200, 100, 25);
  graphics->AddControl(new ProbeControl(&plug, PixelRect(10, 10, 60, 30), 1));
  plug.AttachEditor(graphics);
  HWND host = MakeHostWindow(200, 100);
  HWND editor = static_cast<HWND>(graphics->OpenNativeWindow(host));
  if (!CHECK(editor != nullptr)) return;
  SendMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  CHECK(GetCapture() == editor);
  CHECK(plug.log == "b1", "log '%s'", plug.log.c_str());
  graphics->CloseWindow();
  CHECK(plug.log == "b1e1", "the host sees the gesture end: '%s'", plug.log.c_str());
  CHECK(GetCapture() == nullptr && !IsWindow(editor));
  // The parent destroyed under an open editor: the editor forgets its window.
  editor = static_cast<HWND>(graphics->OpenNativeWindow(host));
  CHECK(editor != nullptr);
  DestroyWindow(host);
  CHECK(graphics->NativeWindow() == nullptr && IGraphicsWin::OpenWindowCount() == 0);
  HWND host2 = MakeHostWindow(200, 100);
  CHECK(graphics->OpenWindow(host2), "a new editor opens after that");
  PumpMessages(60);
  graphics->CloseWindow();
  DestroyWindow(host2);
}

void UnhandledKeysAndResizingReachTheHost() {
  ProbePlug plug;
  auto* graphics = new IGraphicsWin(&plug, 200, 100, 25);
  graphics->AddControl(new ProbeControl(&plug, PixelRect(10, 10, 60, 30), 0));
  plug.AttachEditor(graphics);
  HWND host = MakeHostWindow(200, 100);
  HWND editor = static_cast<HWND>(graphics->OpenNativeWindow(host));
  if (!CHECK(editor != nullptr)) return;
  // F1 is not a key the controls know; a letter with no key catcher is not
  // handled either: both go on to the host's top-level window.
  gHostKeyDowns = 0;
  SendMessageA(editor, WM_KEYDOWN, VK_F1, 0);
  CHECK(gHostKeyDowns == 1, "F1 reached the host %d times", gHostKeyDowns);
  SendMessageA(editor, WM_KEYDOWN, 'A', 0);
  CHECK(gHostKeyDowns == 2);

  // A new editor size: the editor window and the host's window grow by the
  // difference, the back buffer follows.
  RECT hostBefore, r;
  GetWindowRect(host, &hostBefore);
  graphics->SetEditorSize(260, 130);
  GetWindowRect(editor, &r);
  CHECK(r.right - r.left == 260 && r.bottom - r.top == 130, "editor %ld x %ld", r.right - r.left,
        r.bottom - r.top);
  GetWindowRect(host, &r);
  CHECK(r.right - r.left == hostBefore.right - hostBefore.left + 60 &&
            r.bottom - r.top == hostBefore.bottom - hostBefore.top + 30,
        "host grew to %ld x %ld", r.right - r.left, r.bottom - r.top);
  CHECK(graphics->BackBuffer() && graphics->BackBuffer()->Width() == 260);
  // At 2x a new design size is twice as many pixels, and so is the growth.
  CHECK(graphics->SetScale(2.0));
  GetWindowRect(host, &hostBefore);
  graphics->SetEditorSize(300, 150);
  GetWindowRect(editor, &r);
  CHECK(r.right - r.left == 600 && r.bottom - r.top == 300, "editor %ld x %ld at 2x",
        r.right - r.left, r.bottom - r.top);
  GetWindowRect(host, &r);
  CHECK(r.right - r.left == hostBefore.right - hostBefore.left + 80 &&
            r.bottom - r.top == hostBefore.bottom - hostBefore.top + 40,
        "host grew to %ld x %ld", r.right - r.left, r.bottom - r.top);
  graphics->CloseWindow();
  DestroyWindow(host);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "-") != 0) gReferenceFolder = argv[1];
  Runner& r = Runner::Get();
  if (!gReferenceFolder.empty() && !ReadPngHashes().empty())
    r.Run("EveryEditorImageDecodesToTheSamePixelsAsLibpngOnLinux", ImagesMatchLinux);
  else
    r.Skip("EveryEditorImageDecodesToTheSamePixelsAsLibpngOnLinux", "no Linux reference");
  r.Run("MissingWrongOrDamagedImagesAreRefused", BadImagesAreRefused);
  r.Run("TextUnderWineUsesGlyphsRasterizedByGdi", TextUnderWineUsesGlyphsRasterizedByGdi);
  r.Run("MenuNumbersCommandBlocksAndFileFilterLimits", MenuNumberingAndFilters);
  r.Run("TextEntryFiltersCommitsAndCancels", TextEntryFiltersCommitsAndCancels);
  r.Run("UnhandledKeysAndResizingReachTheHost", UnhandledKeysAndResizingReachTheHost);
  r.Run("ClosingMidDragEndsTheGestureAndReleasesCapture",
        ClosingMidDragEndsTheGestureAndReleasesCapture);
  return r.Finish();
}
