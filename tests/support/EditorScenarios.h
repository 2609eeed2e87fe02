// The editor scenarios both editor-test programs run on a built module: the
// X11 one (tests/x11, GoogleTest, Xvfb) and the Windows one (tests/win,
// under Wine). A scenario opens the editor in a host's top-level window,
// sends it real input and checks what the host saw (parameter values,
// gestures, the host's menu) and the window's pixels. What differs per
// platform is behind EditorDesktop (host windows, input, read-back); what
// differs per format is behind EditorPlug.
//
// Each program defines editor_test::Check, which reports a failed check to
// its own test runner.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace editor_test {

constexpr int kWidth = 912;
constexpr int kHeight = 287;

struct Point {
  int x, y;
};
struct Rect {
  int left, top, right, bottom;
};
// Centres of controls of the layout, and their rectangles.
constexpr Point kBypass = {810, 125};
constexpr Rect kBypassRect = {777, 91, 843, 159};
constexpr Point kInput = {132, 88};
constexpr Rect kInputRect = {93, 47, 171, 130};
constexpr Point kMix = {679, 208};
constexpr Rect kMixRect = {641, 174, 717, 242};
constexpr Point kHpf = {156, 208};
constexpr Point kEmpty = {20, 20};  // background only
constexpr int kBypassIndex = 10, kInputIndex = 0, kMixIndex = 6, kHpfIndex = 5;
// INPUT dragged 10 design units up: 10 of the knob's 83-unit throw at a
// quarter of the range per throw.
constexpr double kInputAfterDrag = 10.0 / 83.0 / 4.0;

using WindowId = uintptr_t;
using Pixels = std::vector<uint32_t>;  // 0x00RRGGBB, rows top to bottom

// Reports a failed check to the program's runner; returns `ok`.
bool Check(bool ok, const char* file, int line, const char* expression, const std::string& detail);

template <typename... Parts>
std::string Text(const Parts&... parts) {
  std::ostringstream out;
  ((void)(out << parts), ...);
  return out.str();
}

#define EDITOR_CHECK(cond, ...) \
  ::editor_test::Check(static_cast<bool>(cond), __FILE__, __LINE__, #cond, ::editor_test::Text(__VA_ARGS__))

inline int ChangedPixels(const Pixels& a, const Pixels& b, int width, const Rect& r) {
  if (a.size() != b.size() || a.empty()) return -1;
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      if (i < a.size() && a[i] != b[i]) ++n;
    }
  return n;
}

// Counted up to 64, enough to tell a drawn picture from a blank one (a
// sort of every pixel took seconds in the unoptimised sanitizer build).
inline int DistinctColours(const Pixels& pixels) {
  std::vector<uint32_t> seen;
  for (uint32_t pixel : pixels) {
    if (std::find(seen.begin(), seen.end(), pixel) != seen.end()) continue;
    seen.push_back(pixel);
    if (seen.size() == 64) break;
  }
  return static_cast<int>(seen.size());
}

// One plug-in instance of one format, with the host side that records what
// the editor reports.
class EditorPlug {
 public:
  virtual ~EditorPlug() = default;
  virtual bool Open(WindowId parent) = 0;
  virtual void Close() = 0;
  // Tears the instance down with whatever window it has open.
  virtual void Destroy() = 0;
  // Lets the host (and the platform's message loop) run the editor for
  // about `ms` milliseconds.
  virtual void Pump(int ms) = 0;
  // The size reported before opening is the editor's 912 x 287.
  virtual bool SizeIsEditorSize() = 0;
  // Sets a parameter the way the host's automation would.
  virtual void Automate(int index, double normalized) = 0;
  // The last value the editor reported for a parameter of this instance;
  // -1 when none.
  virtual double LastAutomated(int index) const = 0;
  virtual int Begins(int index) const = 0;
  virtual int Ends(int index) const = 0;
  // VST3: the host's parameter menu, which a right click asks for.
  virtual bool HasHostMenu() const { return false; }
  virtual int Menus(int index) const {
    (void)index;
    return 0;
  }
  // Empty when the last menu was asked for by this editor's view, popped up
  // at `p` and released; else what is wrong.
  virtual std::string MenuWrong(Point p) const {
    (void)p;
    return "no host menu";
  }
  // Empty when what the host or the system holds for this instance's
  // editor (run-loop entries, timers, a window class) fits an editor that
  // is open or closed; else what is wrong.
  virtual std::string LinksWrong(bool editorOpen) const {
    (void)editorOpen;
    return "";
  }
};

// The platform: host windows, input as a user's, pixels read back.
class EditorDesktop {
 public:
  virtual ~EditorDesktop() = default;
  virtual WindowId MakeHostWindow(int x, int y, int width, int height) = 0;
  virtual void DestroyWindow(WindowId window) = 0;
  // The editor's window in `host`; 0 when there is none or more than one.
  virtual WindowId EditorOf(WindowId host) = 0;
  virtual int EditorsIn(WindowId host) = 0;
  // True when `editor`, once in `host`, is gone.
  virtual bool EditorGone(WindowId host, WindowId editor) = 0;
  virtual Pixels Capture(WindowId window, int* width = nullptr, int* height = nullptr) = 0;
  // A press and release of button 1 (left) or 3 (right) at `p`.
  virtual void Click(WindowId editor, Point p, int button = 1) = 0;
  virtual void Press(WindowId editor, Point p) = 0;
  virtual void Move(WindowId editor, Point p) = 0;
  virtual void Release(WindowId editor, Point p) = 0;
  virtual void WheelDown(WindowId editor, Point p) = 0;
  virtual void DoubleClick(WindowId editor, Point p) = 0;
  // No window holds the pointer (an X grab, a Win32 capture).
  virtual bool PointerFree() = 0;
  virtual void SaveShot(const Pixels& pixels, int width, int height, const std::string& name) = 0;
  // Empty when `shown` is the editor the render tool draws at `scale` for
  // the default settings (or there is nothing to compare with); else how
  // it differs.
  virtual std::string ReferenceDiffers(const Pixels& shown, int width, int height, double scale) = 0;
  // Checks only this platform makes, with the editor open and input done.
  virtual void CheckWhileOpen(EditorPlug& plug, WindowId host, WindowId editor) {
    (void)plug;
    (void)host;
    (void)editor;
  }
};

// ---------------------------------------------------------------- scenarios

// Open in a host window, click, drag, wheel, double-click and right-click.
inline void MouseReachesTheParameters(EditorDesktop& d, EditorPlug& plug, const std::string& shot) {
  EDITOR_CHECK(plug.SizeIsEditorSize(), "the editor size is 912 x 287 before opening");
  const WindowId host = d.MakeHostWindow(20, 20, kWidth, kHeight);
  if (!EDITOR_CHECK(plug.Open(host), "the editor does not open")) return;
  const WindowId editor = d.EditorOf(host);
  if (!EDITOR_CHECK(editor != 0, "no editor child window")) return;
  plug.Pump(200);
  int w = 0, h = 0;
  Pixels before = d.Capture(editor, &w, &h);
  if (!EDITOR_CHECK(w == kWidth && h == kHeight, "captured ", w, " x ", h)) return;
  EDITOR_CHECK(DistinctColours(before) > 20, "the editor looks blank (", DistinctColours(before), " colours)");
  d.SaveShot(before, w, h, shot);
  const std::string differs = d.ReferenceDiffers(before, w, h, 1.0);
  EDITOR_CHECK(differs.empty(), "the window differs from the rendered editor picture: ", differs);

  // A click flips BYPASS, inside one gesture, and its switch frame changes.
  d.Click(editor, kBypass);
  plug.Pump(150);
  EDITOR_CHECK(plug.LastAutomated(kBypassIndex) == 1.0, "BYPASS ", plug.LastAutomated(kBypassIndex));
  EDITOR_CHECK(plug.Begins(kBypassIndex) == 1 && plug.Ends(kBypassIndex) == 1);
  Pixels after = d.Capture(editor);
  EDITOR_CHECK(ChangedPixels(before, after, kWidth, kBypassRect) > 50, "switch pixels changed: ",
               ChangedPixels(before, after, kWidth, kBypassRect));

  // Dragging INPUT 10 pixels up raises it; the pointer is the editor's
  // while the button is held, and free again after.
  before = after;
  d.Press(editor, kInput);
  plug.Pump(60);
  for (int dy = 2; dy <= 10; dy += 2) {
    d.Move(editor, {kInput.x, kInput.y - dy});
    plug.Pump(20);
  }
  EDITOR_CHECK(!d.PointerFree(), "the pointer is held during the drag");
  d.Release(editor, {kInput.x, kInput.y - 10});
  plug.Pump(150);
  EDITOR_CHECK(d.PointerFree(), "the pointer is free after the release");
  const double raised = plug.LastAutomated(kInputIndex);
  EDITOR_CHECK(std::fabs(raised - kInputAfterDrag) < 1e-6, "INPUT after the drag ", raised);
  EDITOR_CHECK(plug.Begins(kInputIndex) == 1 && plug.Ends(kInputIndex) == 1);
  after = d.Capture(editor);
  EDITOR_CHECK(ChangedPixels(before, after, kWidth, kInputRect) > 20, "knob pixels changed: ",
               ChangedPixels(before, after, kWidth, kInputRect));

  // A wheel notch down over MIX (at 100 %) lowers it by one step.
  before = after;
  d.WheelDown(editor, kMix);
  plug.Pump(150);
  const double mix = plug.LastAutomated(kMixIndex);
  EDITOR_CHECK(std::fabs(mix - 0.99) < 1e-6, "MIX after a wheel notch ", mix);
  after = d.Capture(editor);
  EDITOR_CHECK(ChangedPixels(before, after, kWidth, kMixRect) > 0);

  // A double click on INPUT brings back its default (0).
  d.DoubleClick(editor, kInput);
  plug.Pump(150);
  EDITOR_CHECK(plug.LastAutomated(kInputIndex) == 0.0, "INPUT after a double click ",
               plug.LastAutomated(kInputIndex));

  // A right click on HPF: the VST3 host's parameter menu at the click;
  // elsewhere the control gets the click, and the value stays.
  d.Click(editor, kHpf, 3);
  plug.Pump(150);
  if (plug.HasHostMenu()) {
    EDITOR_CHECK(plug.Menus(kHpfIndex) == 1, "host menu asked for HPF ", plug.Menus(kHpfIndex), " times");
    const std::string menu = plug.MenuWrong(kHpf);
    EDITOR_CHECK(menu.empty(), menu);
    EDITOR_CHECK(plug.Begins(kHpfIndex) == 0, "no gesture around the menu");
  } else {
    EDITOR_CHECK(plug.Menus(kHpfIndex) == 0);
  }
  EDITOR_CHECK(plug.LastAutomated(kHpfIndex) == -1.0, "HPF unchanged");

  d.CheckWhileOpen(plug, host, editor);
  plug.Close();
  EDITOR_CHECK(d.EditorGone(host, editor), "the editor window is gone");
  const std::string links = plug.LinksWrong(false);
  EDITOR_CHECK(links.empty(), links);
  d.DestroyWindow(host);
}

// A parent that is no window is refused, and leaves the editor usable.
inline void RefusesAParentThatIsNoWindow(EditorDesktop& d, EditorPlug& plug) {
  EDITOR_CHECK(!plug.Open(0));
  EDITOR_CHECK(!plug.Open(0x7fff1234));
  const std::string links = plug.LinksWrong(false);
  EDITOR_CHECK(links.empty(), "a refused open left: ", links);
  const WindowId host = d.MakeHostWindow(60, 60, kWidth, kHeight);
  EDITOR_CHECK(plug.Open(host), "a refused parent leaves the editor usable");
  plug.Close();
  d.DestroyWindow(host);
}

inline void ClosesAndReopensManyTimes(EditorDesktop& d, EditorPlug& plug) {
  const WindowId host = d.MakeHostWindow(40, 40, kWidth, kHeight);
  for (int i = 0; i < 25; ++i) {
    if (!EDITOR_CHECK(plug.Open(host), "open ", i)) break;
    if (i % 5 == 0) plug.Pump(60);
    plug.Close();
    if (!EDITOR_CHECK(d.EditorsIn(host) == 0, "close ", i, " left a window")) break;
  }
  std::string links = plug.LinksWrong(false);
  EDITOR_CHECK(links.empty(), links);
  // Opening twice without closing recreates it: still one editor, drawn.
  EDITOR_CHECK(plug.Open(host) && plug.Open(host));
  EDITOR_CHECK(d.EditorsIn(host) == 1, d.EditorsIn(host), " editors");
  plug.Pump(150);
  EDITOR_CHECK(DistinctColours(d.Capture(d.EditorOf(host))) > 20, "paints after many reopenings");
  links = plug.LinksWrong(true);
  EDITOR_CHECK(links.empty(), links);
  plug.Close();
  links = plug.LinksWrong(false);
  EDITOR_CHECK(links.empty(), links);
  d.DestroyWindow(host);
}

inline void TwoEditorsWorkAtOnce(EditorDesktop& d, EditorPlug& a, EditorPlug& b) {
  const WindowId hostA = d.MakeHostWindow(0, 0, kWidth, kHeight);
  const WindowId hostB = d.MakeHostWindow(0, 400, kWidth, kHeight);
  EDITOR_CHECK(a.Open(hostA) && b.Open(hostB));
  const WindowId editorA = d.EditorOf(hostA), editorB = d.EditorOf(hostB);
  if (!EDITOR_CHECK(editorA && editorB)) return;
  a.Pump(100);
  b.Pump(100);
  // A click in each editor reaches its own instance only.
  const Pixels beforeA = d.Capture(editorA);
  d.Click(editorB, kBypass);
  b.Pump(150);
  a.Pump(50);
  EDITOR_CHECK(d.Capture(editorA) == beforeA, "the other editor is untouched");
  EDITOR_CHECK(b.LastAutomated(kBypassIndex) == 1.0, "BYPASS of the clicked one ", b.LastAutomated(kBypassIndex));
  EDITOR_CHECK(a.LastAutomated(kBypassIndex) == -1.0, "BYPASS of the other ", a.LastAutomated(kBypassIndex));
  a.Close();
  std::string links = b.LinksWrong(true);
  EDITOR_CHECK(links.empty(), "with the second editor open: ", links);
  // The second editor still redraws on its own: host automation shows.
  const Pixels before = d.Capture(editorB);
  b.Automate(kMixIndex, 0.0);
  b.Automate(kBypassIndex, 0.0);
  b.Pump(200);
  const Pixels after = d.Capture(editorB);
  EDITOR_CHECK(ChangedPixels(before, after, kWidth, kMixRect) > 50, "MIX automation shows: ",
               ChangedPixels(before, after, kWidth, kMixRect));
  EDITOR_CHECK(ChangedPixels(before, after, kWidth, kBypassRect) > 50, "BYPASS automation shows: ",
               ChangedPixels(before, after, kWidth, kBypassRect));
  b.Close();
  links = b.LinksWrong(false);
  EDITOR_CHECK(links.empty(), links);
  d.DestroyWindow(hostA);
  d.DestroyWindow(hostB);
}

// The instance goes in the middle of a drag in its open editor.
inline void DestroyedWithItsEditorOpenMidDrag(EditorDesktop& d, EditorPlug& plug) {
  const WindowId host = d.MakeHostWindow(60, 60, kWidth, kHeight);
  if (!EDITOR_CHECK(plug.Open(host))) return;
  const WindowId editor = d.EditorOf(host);
  plug.Pump(100);
  d.Press(editor, kInput);
  plug.Pump(40);
  d.Move(editor, {kInput.x, kInput.y - 4});
  plug.Pump(40);
  EDITOR_CHECK(plug.Begins(kInputIndex) == 1, "the drag began a gesture");
  plug.Destroy();
  EDITOR_CHECK(d.EditorGone(host, editor), "the editor window went with the instance");
  EDITOR_CHECK(plug.Begins(kInputIndex) == plug.Ends(kInputIndex), "the drag's gesture was ended");
  d.Release(editor, {kInput.x, kInput.y - 4});
  EDITOR_CHECK(d.PointerFree(), "the pointer is not left held");
  plug.Pump(200);  // a timer left behind would fire into freed memory here
  const std::string links = plug.LinksWrong(false);
  EDITOR_CHECK(links.empty(), links);
  d.DestroyWindow(host);
}

// At `scale` (already set, the editor open in a host window of that size):
// the window is the rendered picture at that scale, and a click and a drag,
// in design units, change the same parameters by the same amounts as at 1x.
inline void ShowsAndTakesInputAtScale(EditorDesktop& d, EditorPlug& plug, WindowId editor, double scale,
                                      const std::string& shot) {
  const int width = static_cast<int>(kWidth * scale), height = static_cast<int>(kHeight * scale);
  auto px = [&](int design) { return static_cast<int>(design * scale); };
  int w = 0, h = 0;
  const Pixels picture = d.Capture(editor, &w, &h);
  if (!EDITOR_CHECK(w == width && h == height, "window at ", scale, ": ", w, " x ", h)) return;
  const std::string differs = d.ReferenceDiffers(picture, w, h, scale);
  EDITOR_CHECK(differs.empty(), "at ", scale, " the window differs from the rendered picture: ", differs);
  d.SaveShot(picture, w, h, shot);

  d.Click(editor, {px(840), px(156)});  // BYPASS, near its far corner
  plug.Pump(100);
  EDITOR_CHECK(plug.LastAutomated(kBypassIndex) == 1.0, "BYPASS at ", scale, ": ",
               plug.LastAutomated(kBypassIndex));
  // INPUT dragged up 10 design units moves as far as 10 pixels do at 1x.
  d.Press(editor, {px(kInput.x), px(kInput.y)});
  plug.Pump(40);
  for (int dy = 3; dy <= px(10); dy += 3) {
    d.Move(editor, {px(kInput.x), px(kInput.y) - dy});
    plug.Pump(10);
  }
  d.Move(editor, {px(kInput.x), px(kInput.y) - px(10)});
  d.Release(editor, {px(kInput.x), px(kInput.y) - px(10)});
  plug.Pump(150);
  EDITOR_CHECK(std::fabs(plug.LastAutomated(kInputIndex) - kInputAfterDrag) < 1e-6, "INPUT at ", scale, ": ",
               plug.LastAutomated(kInputIndex));
}

}  // namespace editor_test
