// The editor of both Windows modules in real windows under Wine: opened as a
// child of a host's top-level window, driven with posted mouse messages, and
// checked by what the host saw (parameter values, begin/perform/end
// gestures, the context menu) and by the pixels read back from the window.
// Saves a screenshot of each format's editor as a PNG in the build folder.
//
// Usage: kestrune-wine-editor <Kestrune.dll> <Kestrune.vst3> <screenshot folder>
//                            [<Linux reference folder> [<Kestrune.clap>]]
//        kestrune-wine-editor --dpi-192 <Kestrune.dll>   (its child at 192 dpi)
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

#ifdef KESTRUNE_WINE_CLAP
#include "ClapHostObjects.h"
#endif
#include "PIX_Bitmap.h"
#include "PngCodec.h"
#include "WineHosts.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

namespace Steinberg {
DEF_CLASS_IID(IPlugViewContentScaleSupport)
}

// This program links the graphics library only to write PNG files.
void* gKestruneModule = nullptr;

using namespace kestrune_wine;

namespace {

const char* gVst2Path = nullptr;
const char* gVst3Path = nullptr;
std::string gShotFolder;
std::string gReferenceFolder;

constexpr int kWidth = 912;
constexpr int kHeight = 287;
constexpr const char* kEditorClass = "IEditorWndClass";

struct Point {
  int x, y;
};
// Centres of controls of the layout, and their rectangles.
constexpr Point kBypass = {810, 125};
constexpr RECT kBypassRect = {777, 91, 843, 159};
constexpr Point kInput = {132, 88};
constexpr RECT kInputRect = {93, 47, 171, 130};
constexpr Point kMix = {679, 208};
constexpr RECT kMixRect = {641, 174, 717, 242};
constexpr Point kHpf = {156, 208};
constexpr RECT kVersionText = {0, 210, 100, 230};

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeHostWindow(int x, int width = kWidth, int height = kHeight) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = "KestruneWineHost";
    RegisterClassA(&wc);
    registered = true;
  }
  RECT r = {0, 0, width, height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  HWND host = CreateWindowExA(0, "KestruneWineHost", "Kestrune under Wine",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 20, r.right - r.left,
                              r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  PumpMessages(50);
  return host;
}

HWND EditorOf(HWND host) { return FindWindowExA(host, nullptr, kEditorClass, nullptr); }

bool ClassRegistered(HMODULE module) {
  WNDCLASSA wc;
  return GetClassInfoA(module, kEditorClass, &wc) != 0;
}

// The window's client pixels as 0x00RRGGBB, read back through GDI.
std::vector<uint32_t> Capture(HWND window) {
  std::vector<uint32_t> pixels;
  RECT client;
  if (!window || !GetClientRect(window, &client)) return pixels;
  const int w = client.right, h = client.bottom;
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) {
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    pixels.assign(p, p + static_cast<size_t>(w) * h);
    for (uint32_t& v : pixels) v &= 0x00FFFFFFu;
    SelectObject(memory, old);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
}

int ChangedPixels(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, const RECT& r) {
  if (a.size() != b.size() || a.size() < static_cast<size_t>(kWidth) * kHeight) return -1;
  int changed = 0;
  for (int y = r.top; y < std::min<int>(r.bottom, kHeight); ++y)
    for (int x = r.left; x < r.right; ++x)
      if (a[static_cast<size_t>(y) * kWidth + x] != b[static_cast<size_t>(y) * kWidth + x]) ++changed;
  return changed;
}

int DistinctColours(const std::vector<uint32_t>& pixels) {
  std::vector<uint32_t> sample;
  for (size_t i = 0; i < pixels.size(); i += 97) sample.push_back(pixels[i]);
  std::sort(sample.begin(), sample.end());
  return static_cast<int>(std::unique(sample.begin(), sample.end()) - sample.begin());
}

void SaveShot(HWND window, const char* name) {
  const std::vector<uint32_t> pixels = Capture(window);
  RECT client;
  GetClientRect(window, &client);
  PIX_MemBitmap bitmap;
  bitmap.Resize(client.right, client.bottom);
  if (pixels.empty() || !bitmap.PixelData()) return;
  for (int y = 0; y < client.bottom; ++y)
    for (int x = 0; x < client.right; ++x)
      bitmap.Row(y)[x] = pixels[static_cast<size_t>(y) * client.right + x] | 0xFF000000u;
  const std::string path = gShotFolder + "/" + name;
  CHECK(WriteBitmapPng(&bitmap, path.c_str()), "screenshot %s not written", path.c_str());
}

void Click(HWND editor, Point p, UINT down = WM_LBUTTONDOWN, UINT up = WM_LBUTTONUP,
           WPARAM button = MK_LBUTTON) {
  PostMessageA(editor, down, button, MAKELPARAM(p.x, p.y));
  PostMessageA(editor, up, 0, MAKELPARAM(p.x, p.y));
  PumpMessages(150);
}

// ---------------------------------------------------------------- the two formats

class EditorPlug {
 public:
  virtual ~EditorPlug() = default;
  virtual bool Open(HWND host) = 0;
  virtual void Close() = 0;
  // Tears the instance down with whatever window it has open.
  virtual void Destroy() = 0;
  virtual const void* EventKey() const = 0;
  virtual HMODULE Module() const = 0;
  virtual bool Vst3() const = 0;
  virtual bool SizeIsEditorSize() = 0;
  // Sets a parameter the way the host's automation would.
  virtual void Automate(int index, double normalized) = 0;

  double LastAutomated(int index, double missing = -1.0) const {
    double v = missing;
    for (const HostEvent& e : HostEvents())
      if (e.kind == HostEvent::Automate && e.instance == EventKey() && e.index == index) v = e.value;
    return v;
  }
  int Count(HostEvent::Kind kind, int index) const { return CountEvents(kind, EventKey(), index); }
};

class Vst2EditorPlug : public EditorPlug {
 public:
  explicit Vst2EditorPlug(const Vst2Module& module) : module_(module) {
    effect_ = module.Create();
    if (effect_) StartVst2(effect_, 44100.0f, 512);
  }
  ~Vst2EditorPlug() override { Destroy(); }
  bool Open(HWND host) override {
    return effect_ && Dispatch(effect_, vst2::effEditOpen, 0, 0, host) == 1;
  }
  void Close() override {
    if (effect_) Dispatch(effect_, vst2::effEditClose);
  }
  void Destroy() override {
    if (effect_) Dispatch(effect_, vst2::effClose);
    effect_ = nullptr;
  }
  const void* EventKey() const override { return effect_; }
  HMODULE Module() const override { return module_.Handle(); }
  bool Vst3() const override { return false; }
  bool SizeIsEditorSize() override {
    vst2::ERect* rect = nullptr;
    return effect_ && Dispatch(effect_, vst2::effEditGetRect, 0, 0, &rect) == 1 && rect &&
           rect->left == 0 && rect->top == 0 && rect->right == kWidth && rect->bottom == kHeight;
  }
  void Automate(int index, double normalized) override {
    effect_->setParameter(effect_, index, static_cast<float>(normalized));
  }
  vst2::AEffect* Effect() const { return effect_; }

 private:
  const Vst2Module& module_;
  vst2::AEffect* effect_ = nullptr;
};

class Vst3EditorPlug : public EditorPlug {
 public:
  Vst3EditorPlug(HMODULE module, IPluginFactory* factory)
      : module_(module), plug_(new Vst3Plugin(factory, &host_, &handler_)) {
    if (!plug_->Valid()) return;
    plug_->Start(44100.0, 512);
    view_ = plug_->controller->createView(ViewType::kEditor);
    if (view_) view_->setFrame(&frame_);
  }
  ~Vst3EditorPlug() override { Destroy(); }
  bool Open(HWND host) override { return view_ && view_->attached(host, kPlatformTypeHWND) == kResultOk; }
  void Close() override {
    if (view_) view_->removed();
  }
  void Destroy() override {
    // The host lets go of the view without removing it, then of the instance.
    if (view_) view_->release();
    view_ = nullptr;
    if (plug_) {
      plug_->processor->setProcessing(false);
      plug_->component->setActive(false);
    }
    plug_.reset();
  }
  const void* EventKey() const override { return &handler_; }
  HMODULE Module() const override { return module_; }
  bool Vst3() const override { return true; }
  bool SizeIsEditorSize() override {
    ViewRect r;
    return view_ && view_->getSize(&r) == kResultOk && r.left == 0 && r.top == 0 &&
           r.right == kWidth && r.bottom == kHeight;
  }
  void Automate(int index, double normalized) override {
    ParamChanges changes;
    changes.Add(static_cast<ParamID>(index), {normalized});
    std::vector<double> silence(32, 0.0), out0(32), out1(32);
    const double* ins[4] = {silence.data(), silence.data(), silence.data(), silence.data()};
    double* outs[2] = {out0.data(), out1.data()};
    plug_->Process(ins, outs, 32, &changes);
  }
  IPlugView* View() const { return view_; }
  ComponentHandler& Handler() { return handler_; }
  PlugFrame& Frame() { return frame_; }

 private:
  HMODULE module_;
  HostApplication host_;
  ComponentHandler handler_;
  PlugFrame frame_;
  std::unique_ptr<Vst3Plugin> plug_;
  IPlugView* view_ = nullptr;
};

// ---------------------------------------------------------------- scenarios

// Open in a host window, click, drag, wheel, double-click and right-click.
void MouseReachesTheParameters(EditorPlug& plug, const char* shotName) {
  CHECK(plug.SizeIsEditorSize(), "the editor size is 912 x 287 before opening");
  HWND host = MakeHostWindow(20);
  if (!CHECK(plug.Open(host), "the editor does not open")) return;
  HWND editor = EditorOf(host);
  if (!CHECK(editor != nullptr, "no editor child window")) return;
  PumpMessages(300);
  std::vector<uint32_t> before = Capture(editor);
  CHECK(before.size() == static_cast<size_t>(kWidth) * kHeight, "captured %d pixels",
        static_cast<int>(before.size()));
  CHECK(DistinctColours(before) > 20, "the editor looks blank (%d colours)", DistinctColours(before));
  SaveShot(host, shotName);

  // A click flips BYPASS, inside one gesture, and its switch frame changes.
  Click(editor, kBypass);
  CHECK(plug.LastAutomated(10) == 1.0, "BYPASS %f", plug.LastAutomated(10));
  CHECK(plug.Count(HostEvent::Begin, 10) == 1 && plug.Count(HostEvent::End, 10) == 1);
  std::vector<uint32_t> after = Capture(editor);
  CHECK(ChangedPixels(before, after, kBypassRect) > 50, "switch pixels changed: %d",
        ChangedPixels(before, after, kBypassRect));

  // Dragging INPUT 10 pixels up raises it, and the knob turns.
  before = after;
  PostMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kInput.x, kInput.y));
  for (int dy = 2; dy <= 10; dy += 2)
    PostMessageA(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kInput.x, kInput.y - dy));
  PostMessageA(editor, WM_LBUTTONUP, 0, MAKELPARAM(kInput.x, kInput.y - 10));
  PumpMessages(200);
  const double raised = plug.LastAutomated(0);
  CHECK(raised > 0.0 && raised < 0.5, "INPUT after the drag %f", raised);
  CHECK(plug.Count(HostEvent::Begin, 0) == 1 && plug.Count(HostEvent::End, 0) == 1);
  after = Capture(editor);
  CHECK(ChangedPixels(before, after, kInputRect) > 20, "knob pixels changed: %d",
        ChangedPixels(before, after, kInputRect));

  // A wheel notch down over MIX (at 100 %) lowers it; the wheel's position
  // comes in screen coordinates.
  POINT screen = {kMix.x, kMix.y};
  ClientToScreen(editor, &screen);
  PostMessageA(editor, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)),
               MAKELPARAM(screen.x, screen.y));
  PumpMessages(150);
  const double mix = plug.LastAutomated(6);
  CHECK(mix >= 0.0 && mix < 1.0, "MIX after a wheel notch %f", mix);
  before = after;
  after = Capture(editor);
  CHECK(ChangedPixels(before, after, kMixRect) > 0);

  // A double click on INPUT brings back its default (0).
  PostMessageA(editor, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(kInput.x, kInput.y));
  PumpMessages(150);
  CHECK(plug.LastAutomated(0) == 0.0, "INPUT after a double click %f", plug.LastAutomated(0));

  // A right click on HPF: the VST3 host's parameter menu; under VST2 the
  // control gets the click, and the value stays.
  Click(editor, kHpf, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON);
  if (plug.Vst3()) {
    auto& handler = static_cast<Vst3EditorPlug&>(plug).Handler();
    CHECK(plug.Count(HostEvent::Menu, 5) == 1, "host menu asked for HPF");
    CHECK(handler.menuView == static_cast<Vst3EditorPlug&>(plug).View());
    CHECK(!handler.menu.popups.empty() && handler.menu.popups.back().first == kHpf.x &&
          handler.menu.popups.back().second == kHpf.y);
    CHECK(plug.Count(HostEvent::Begin, 5) == 0, "no gesture around the menu");
  } else {
    CHECK(plug.Count(HostEvent::Menu, 5) == 0);
  }
  CHECK(plug.LastAutomated(5) == -1.0, "HPF unchanged");

  plug.Close();
  CHECK(EditorOf(host) == nullptr && !IsWindow(editor), "the editor window is gone");
  CHECK(!ClassRegistered(plug.Module()), "the window class goes with the last editor");
  DestroyWindow(host);
}

void ReopeningManyTimes(EditorPlug& plug) {
  HWND host = MakeHostWindow(40);
  for (int i = 0; i < 25; ++i) {
    if (!CHECK(plug.Open(host), "open %d", i)) break;
    if (i % 5 == 0) PumpMessages(60);
    plug.Close();
    if (!CHECK(EditorOf(host) == nullptr, "close %d left a window", i)) break;
  }
  CHECK(!ClassRegistered(plug.Module()));
  // Opening twice without closing recreates it in place: still one editor.
  CHECK(plug.Open(host) && plug.Open(host));
  HWND first = EditorOf(host);
  CHECK(first && FindWindowExA(host, first, kEditorClass, nullptr) == nullptr, "one editor");
  PumpMessages(150);
  CHECK(DistinctColours(Capture(first)) > 20, "paints after many reopenings");
  plug.Close();
  CHECK(!ClassRegistered(plug.Module()));
  DestroyWindow(host);
}

void TwoEditorsAtOnce(EditorPlug& a, EditorPlug& b) {
  HWND hostA = MakeHostWindow(20);
  HWND hostB = MakeHostWindow(120);
  CHECK(a.Open(hostA) && b.Open(hostB));
  HWND editorB = EditorOf(hostB);
  CHECK(EditorOf(hostA) != nullptr && editorB != nullptr);
  PumpMessages(200);
  a.Close();
  CHECK(ClassRegistered(b.Module()), "the class stays while the second editor is open");
  // The second editor still redraws on its timer: host automation shows.
  const std::vector<uint32_t> before = Capture(editorB);
  b.Automate(10, 1.0);
  PumpMessages(200);
  const std::vector<uint32_t> after = Capture(editorB);
  CHECK(ChangedPixels(before, after, kBypassRect) > 50, "automation shows: %d",
        ChangedPixels(before, after, kBypassRect));
  b.Close();
  CHECK(!ClassRegistered(b.Module()));
  DestroyWindow(hostA);
  DestroyWindow(hostB);
}

void DestroyedWhileOpen(EditorPlug& plug) {
  HWND host = MakeHostWindow(60);
  if (!CHECK(plug.Open(host))) return;
  HWND editor = EditorOf(host);
  PumpMessages(100);
  // Mid-drag, even.
  PostMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kInput.x, kInput.y));
  PostMessageA(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kInput.x, kInput.y - 4));
  PumpMessages(60);
  const void* key = plug.EventKey();
  plug.Destroy();
  CHECK(!IsWindow(editor), "the editor window went with the instance");
  CHECK(GetCapture() == nullptr, "no capture left behind");
  CHECK(CountEvents(HostEvent::Begin, key, 0) == CountEvents(HostEvent::End, key, 0),
        "the drag's gesture was ended");
  PumpMessages(200);  // a timer left behind would fire into freed memory here
  CHECK(!ClassRegistered(plug.Module()));
  DestroyWindow(host);
}

#ifdef KESTRUNE_WINE_CLAP
// The CLAP editor through clap.gui, embedded in a host window by its HWND:
// it opens there, draws, takes a click (reported to the host as a gesture
// around BYPASS's new value) and goes with its window class on destroy.
void ClapEditorOpensDrawsAndCloses(const char* path) {
  host::ClapModule module;
  std::string error;
  if (!CHECK(module.Load(path, error), "%s", error.c_str())) return;
  const clap_plugin_factory* factory = module.Factory();
  const clap_plugin_descriptor* descriptor =
      factory && factory->get_plugin_count(factory) == 1 ? factory->get_plugin_descriptor(factory, 0) : nullptr;
  if (!CHECK(descriptor != nullptr)) return;
  host::ClapHostContext context;
  host::ClapInstance plug;
  if (!CHECK(plug.Create(module, context, descriptor->id, error), "%s", error.c_str())) return;
  const auto* gui = static_cast<const clap_plugin_gui*>(plug.plugin->get_extension(plug.plugin, CLAP_EXT_GUI));
  if (!CHECK(gui != nullptr, "no clap.gui")) return;
  HMODULE handle = GetModuleHandleA("Kestrune.clap");
  CHECK(gui->is_api_supported(plug.plugin, CLAP_WINDOW_API_WIN32, false));
  CHECK(!gui->is_api_supported(plug.plugin, CLAP_WINDOW_API_X11, false), "x11 on Windows");
  if (!CHECK(gui->create(plug.plugin, CLAP_WINDOW_API_WIN32, false))) return;
  uint32_t width = 0, height = 0;
  CHECK(gui->get_size(plug.plugin, &width, &height) && width == kWidth && height == kHeight,
        "size %u x %u", width, height);
  HWND host = MakeHostWindow(20);
  clap_window window = {};
  window.api = CLAP_WINDOW_API_WIN32;
  window.win32 = host;
  if (!CHECK(gui->set_parent(plug.plugin, &window) && gui->show(plug.plugin), "not embedded")) {
    gui->destroy(plug.plugin);
    DestroyWindow(host);
    return;
  }
  HWND editor = EditorOf(host);
  if (CHECK(editor != nullptr, "no editor child window")) {
    PumpMessages(300);
    const std::vector<uint32_t> before = Capture(editor);
    CHECK(DistinctColours(before) > 20, "the editor looks blank (%d colours)", DistinctColours(before));
    SaveShot(host, "editor-clap.png");
    Click(editor, kBypass);
    host::ClapOutputEvents out;
    plug.Flush(nullptr, out.List());
    std::vector<uint16_t> types;
    double bypass = -1;
    for (const auto& bytes : out.events) {
      clap_event_param_value event = {};
      std::memcpy(&event, bytes.data(), std::min(bytes.size(), sizeof event));
      if (event.param_id != 10) continue;
      types.push_back(event.header.type);
      if (event.header.type == CLAP_EVENT_PARAM_VALUE) bypass = event.value;
    }
    CHECK(types.size() == 3 && types.front() == CLAP_EVENT_PARAM_GESTURE_BEGIN &&
              types.back() == CLAP_EVENT_PARAM_GESTURE_END && bypass == 1.0,
          "BYPASS events %d, value %f", static_cast<int>(types.size()), bypass);
    CHECK(ChangedPixels(before, Capture(editor), kBypassRect) > 50, "the switch did not redraw");
  }
  gui->destroy(plug.plugin);
  CHECK(EditorOf(host) == nullptr && !IsWindow(editor), "the editor window is gone");
  CHECK(!ClassRegistered(handle), "the window class goes with the editor");
  DestroyWindow(host);
}
#endif

void Vst3ViewContract(IPluginFactory* factory, HMODULE module) {
  Vst3EditorPlug plug(module, factory);
  IPlugView* view = plug.View();
  if (!CHECK(view != nullptr)) return;
  CHECK(view->isPlatformTypeSupported(kPlatformTypeHWND) == kResultTrue);
  CHECK(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) == kResultFalse);
  CHECK(view->canResize() == kResultTrue);
  ViewRect r(0, 0, 100, 100);
  CHECK(view->onSize(&r) == kResultOk && view->onSize(nullptr) == kResultOk);
  // A parent that is no window is refused.
  CHECK(view->attached(nullptr, kPlatformTypeHWND) != kResultOk);
  HostApplication host;
  ComponentHandler handler;
  Vst3Plugin other(factory, &host, &handler);
  if (!CHECK(other.Valid())) return;
  CHECK(other.controller->createView("editor2") == nullptr);
  CHECK(other.controller->createView(nullptr) == nullptr);
}

// The picture kestrune-render draws on Linux at `scale` for the default
// settings, as 0x00RRGGBB; empty without the reference.
std::vector<uint32_t> LinuxPicture(double scale, int* width, int* height) {
  char name[32];
  std::snprintf(name, sizeof name, "/editor-%g.png", scale);
  std::ifstream file(gReferenceFolder + name, std::ios::binary);
  const std::vector<unsigned char> png((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
  std::vector<uint32_t> pixels;
  std::unique_ptr<PIX_MemBitmap> bitmap(png.empty() ? nullptr
                                                    : LoadPngFromMemory(png.data(), png.size()));
  if (!bitmap) return pixels;
  for (int y = 0; y < bitmap->Height(); ++y)
    for (int x = 0; x < bitmap->Width(); ++x) pixels.push_back(bitmap->Row(y)[x] & 0xFFFFFFu);
  *width = bitmap->Width();
  *height = bitmap->Height();
  return pixels;
}

// At the host's content scale (1.5, 2) the window is the Linux render tool's picture
// at that scale, and a click and a drag, in design units, change the same
// parameters by the same amounts at every scale. A new content scale while
// open reaches the host as a resize request from the editor's tick.
void AtTheHostsContentScale(IPluginFactory* factory, HMODULE module) {
  for (double scale : {1.5, 2.0}) {
    Vst3EditorPlug plug(module, factory);
    IPlugView* view = plug.View();
    if (!CHECK(view != nullptr)) return;
    IPlugViewContentScaleSupport* scaling = nullptr;
    if (!CHECK(view->queryInterface(IPlugViewContentScaleSupport::iid,
                                    reinterpret_cast<void**>(&scaling)) == kResultOk &&
               scaling))
      return;
    CHECK(scaling->setContentScaleFactor(static_cast<float>(scale)) == kResultTrue);
    const int width = static_cast<int>(kWidth * scale), height = static_cast<int>(kHeight * scale);
    auto px = [&](int design) { return static_cast<int>(design * scale); };
    ViewRect size;
    CHECK(view->getSize(&size) == kResultOk && size.getWidth() == width &&
              size.getHeight() == height,
          "size at %g: %d x %d", scale, size.getWidth(), size.getHeight());
    HWND host = MakeHostWindow(20, width, height);
    if (!CHECK(plug.Open(host), "opens at %g", scale)) break;
    HWND editor = EditorOf(host);
    PumpMessages(300);
    RECT client = {};
    GetClientRect(editor, &client);
    CHECK(client.right == width && client.bottom == height, "window at %g: %ld x %ld", scale,
          client.right, client.bottom);
    int w = 0, h = 0;
    const std::vector<uint32_t> linux = LinuxPicture(scale, &w, &h);
    if (!linux.empty()) {
      // Text is GDI's here and FreeType's on Linux: the version line is
      // compared by having ink, everything else pixel for pixel.
      const RECT text = {0, px(kVersionText.top), px(kVersionText.right),
                         px(kVersionText.bottom)};
      const std::vector<uint32_t> shown = Capture(editor);
      int differing = -1, ink = 0;
      if (shown.size() == linux.size()) {
        differing = 0;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const bool inText = x < text.right && y >= text.top && y < text.bottom;
            if (!inText) differing += shown[i] != linux[i];
            else ink += (shown[i] & 0xFF) > 0xC0;
          }
      }
      CHECK(w == width && h == height && differing == 0 && ink > 20 * scale,
            "at %g the window differs from Linux's %d x %d picture in %d pixels (text ink %d)",
            scale, w, h, differing, ink);
    }
    char shot[32];
    std::snprintf(shot, sizeof shot, "editor-vst3-%g.png", scale);
    SaveShot(editor, shot);

    Click(editor, {px(kBypass.x), px(kBypass.y)});
    CHECK(plug.LastAutomated(10) == 1.0, "BYPASS at %g: %f", scale, plug.LastAutomated(10));
    // INPUT dragged up 10 design units.
    PostMessageA(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(px(kInput.x), px(kInput.y)));
    for (int dy = 2; dy < px(10); dy += 2)
      PostMessageA(editor, WM_MOUSEMOVE, MK_LBUTTON,
                   MAKELPARAM(px(kInput.x), px(kInput.y) - dy));
    PostMessageA(editor, WM_MOUSEMOVE, MK_LBUTTON,
                 MAKELPARAM(px(kInput.x), px(kInput.y) - px(10)));
    PostMessageA(editor, WM_LBUTTONUP, 0, MAKELPARAM(px(kInput.x), px(kInput.y) - px(10)));
    PumpMessages(200);
    CHECK(std::fabs(plug.LastAutomated(0) - 10.0 / 83.0 / 4.0) < 1e-6, "INPUT at %g: %f", scale,
          plug.LastAutomated(0));

    if (scale == 1.5) {
      // Not from inside the host's call: from the next tick, once.
      CHECK(scaling->setContentScaleFactor(2.0f) == kResultTrue);
      CHECK(plug.Frame().resizes == 0, "resize requested inside the host's call");
      PumpMessages(200);
      CHECK(plug.Frame().resizes == 1, "%d resize requests", plug.Frame().resizes);
      GetClientRect(editor, &client);
      CHECK(client.right == 1824 && client.bottom == 574, "window %ld x %ld", client.right,
            client.bottom);
    }
    scaling->release();
    plug.Close();
    DestroyWindow(host);
  }
}

// Run with the system at 192 dpi (RunAt192Dpi): a VST2 editor in
// a per-monitor aware host window opens at 2x and asks the host for its size
// from its tick, and takes input in design units; in a DPI-unaware host
// window it stays at 1x (Windows stretches it).
void Vst2EditorFollowsTheHostWindowsDpi(const Vst2Module& module) {
  using SetThreadDpiContext = HANDLE(WINAPI*)(HANDLE);
  const auto setContext = reinterpret_cast<SetThreadDpiContext>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
  if (!CHECK(setContext != nullptr, "no SetThreadDpiAwarenessContext")) return;
  const HANDLE unaware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
  const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
  for (int scale : {2, 1}) {
    HostEvents().clear();  // an instance may reuse the last one's address
    Vst2EditorPlug plug(module);
    const HANDLE before = setContext(scale == 2 ? perMonitorV2 : unaware);
    HWND host = MakeHostWindow(20);
    setContext(before);
    if (!CHECK(plug.Open(host), "opens at %d", scale)) return;
    HWND editor = EditorOf(host);
    PumpMessages(200);
    RECT client = {};
    GetClientRect(editor, &client);
    CHECK(client.right == kWidth * scale && client.bottom == kHeight * scale,
          "window %ld x %ld in a host window at %d", client.right, client.bottom, scale);
    int asked = 0, width = 0, height = 0;
    for (const HostEvent& e : HostEvents())
      if (e.kind == HostEvent::SizeWindow && e.instance == plug.EventKey()) {
        ++asked;
        width = e.index;
        height = static_cast<int>(e.value);
      }
    if (scale == 2)
      CHECK(asked == 1 && width == 1824 && height == 574, "host asked %d times, for %d x %d",
            asked, width, height);
    else
      CHECK(asked == 0, "host asked %d times at 1x", asked);
    vst2::ERect* rect = nullptr;
    CHECK(Dispatch(plug.Effect(), vst2::effEditGetRect, 0, 0, &rect) == 1 && rect &&
              rect->right == kWidth * scale && rect->bottom == kHeight * scale,
          "effEditGetRect at %d", scale);
    Click(editor, {kBypass.x * scale, kBypass.y * scale});
    CHECK(plug.LastAutomated(10) == 1.0, "BYPASS at %d: %f", scale, plug.LastAutomated(10));
    plug.Close();
    DestroyWindow(host);
  }
}

// The system's DPI is read when a process starts: a child process of this
// program runs the case at 192 dpi, with LogPixels set for it and restored.
void RunAt192Dpi() {
  HKEY key = nullptr;
  if (!CHECK(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                             KEY_READ | KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS))
    return;
  DWORD old = 0, size = sizeof old, type = 0;
  const bool hadOld = RegQueryValueExA(key, "LogPixels", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&old), &size) == ERROR_SUCCESS &&
                      type == REG_DWORD;
  const DWORD dpi = 192;
  RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string command = std::string("\"") + self + "\" --dpi-192 \"" + gVst2Path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  DWORD code = 1;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &child)) {
    if (WaitForSingleObject(child.hProcess, 120000) != WAIT_OBJECT_0)
      TerminateProcess(child.hProcess, 1);
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  if (hadOld)
    RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  else
    RegDeleteValueA(key, "LogPixels");
  RegCloseKey(key);
  CHECK(code == 0, "the editor at 192 dpi: exit code %lu", code);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--dpi-192") == 0) {
    Vst2Module module(argv[2]);
    if (!module.Loaded()) return 1;
    Runner::Get().Run("Vst2EditorFollowsTheHostWindowsDpi",
                      [&] { Vst2EditorFollowsTheHostWindowsDpi(module); });
    return Runner::Get().Finish();
  }
  if (argc < 4) {
    std::printf("usage: %s <Kestrune.dll> <Kestrune.vst3> <screenshot folder>\n", argv[0]);
    return 2;
  }
  gVst2Path = argv[1];
  gVst3Path = argv[2];
  gShotFolder = argv[3];
  if (argc >= 5) gReferenceFolder = argv[4];
  const char* clapPath = argc >= 6 ? argv[5] : nullptr;
  Vst2Module vst2Module(gVst2Path);
  Vst3Module vst3Module(gVst3Path);
  HMODULE vst3Handle = GetModuleHandleA("Kestrune.vst3");
  Runner& r = Runner::Get();
  if (!vst2Module.Loaded() || !vst3Module.Factory() || !vst3Handle) {
    std::printf("modules not loaded: %s %s\n", gVst2Path, gVst3Path);
    return 1;
  }
  r.Run("Vst2EditorTakesMouseInputAndShowsIt", [&] {
    Vst2EditorPlug plug(vst2Module);
    MouseReachesTheParameters(plug, "editor-vst2.png");
  });
  r.Run("Vst2EditorRefusesAParentThatIsNoWindow", [&] {
    Vst2EditorPlug plug(vst2Module);
    CHECK(!plug.Open(nullptr));
    CHECK(!plug.Open(reinterpret_cast<HWND>(static_cast<intptr_t>(0x7fff1234))));
    CHECK(!ClassRegistered(plug.Module()), "a refused open leaves no class behind");
  });
  r.Run("Vst3EditorTakesMouseInputAndShowsIt", [&] {
    Vst3EditorPlug plug(vst3Handle, vst3Module.Factory());
    MouseReachesTheParameters(plug, "editor-vst3.png");
  });
#ifdef KESTRUNE_WINE_CLAP
  if (clapPath)
    r.Run("ClapEditorOpensDrawsAndClosesInAHostWindow", [&] { ClapEditorOpensDrawsAndCloses(clapPath); });
  else
    r.Skip("ClapEditorOpensDrawsAndClosesInAHostWindow", "no Kestrune.clap given");
#else
  (void)clapPath;
#endif
  r.Run("Vst3ViewAnswersOnlyForTheEditorAndHwnd",
        [&] { Vst3ViewContract(vst3Module.Factory(), vst3Handle); });
  r.Run("Vst3EditorAtTheHostsContentScaleIsTheLinuxPictureAndInputMovesTheSame",
        [&] { AtTheHostsContentScale(vst3Module.Factory(), vst3Handle); });
  r.Run("Vst2EditorAt192DpiFollowsTheHostWindowsAwareness", RunAt192Dpi);
  r.Run("Vst2EditorClosesAndReopensManyTimes", [&] {
    Vst2EditorPlug plug(vst2Module);
    ReopeningManyTimes(plug);
  });
  r.Run("Vst3EditorClosesAndReopensManyTimes", [&] {
    Vst3EditorPlug plug(vst3Handle, vst3Module.Factory());
    ReopeningManyTimes(plug);
  });
  r.Run("TwoVst2InstancesHaveTheirEditorsOpenAtOnce", [&] {
    Vst2EditorPlug a(vst2Module), b(vst2Module);
    TwoEditorsAtOnce(a, b);
  });
  r.Run("TwoVst3InstancesHaveTheirEditorsOpenAtOnce", [&] {
    Vst3EditorPlug a(vst3Handle, vst3Module.Factory()), b(vst3Handle, vst3Module.Factory());
    TwoEditorsAtOnce(a, b);
  });
  r.Run("Vst2InstanceDestroyedWithItsEditorOpen", [&] {
    Vst2EditorPlug plug(vst2Module);
    DestroyedWhileOpen(plug);
  });
  r.Run("Vst3InstanceDestroyedWithItsEditorOpen", [&] {
    Vst3EditorPlug plug(vst3Handle, vst3Module.Factory());
    DestroyedWhileOpen(plug);
  });
  return r.Finish();
}
