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
#include "../support/ClapEditorPlug.h"
#include "../support/EditorScenarios.h"
#include "../support/Vst3EditorPlug.h"

namespace Steinberg {
DEF_CLASS_IID(IPlugViewContentScaleSupport)
}

// This program links the graphics library only to write PNG files.
void* gKestruneModule = nullptr;

using namespace kestrune_wine;
using namespace editor_test;

namespace editor_test {
bool Check(bool ok, const char* file, int line, const char* expression, const std::string& detail) {
  return CheckThat(ok, file, line, expression, "%s", detail.c_str());
}
}  // namespace editor_test

namespace {

const char* gVst2Path = nullptr;
const char* gVst3Path = nullptr;
std::string gShotFolder;
std::string gReferenceFolder;

constexpr const char* kEditorClass = "IEditorWndClass";
constexpr RECT kVersionText = {0, 210, 100, 230};

HWND AsHwnd(WindowId id) { return reinterpret_cast<HWND>(id); }
WindowId AsId(HWND hwnd) { return reinterpret_cast<WindowId>(hwnd); }

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeHostWindow(int x, int y, int width, int height) {
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
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, r.right - r.left,
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
std::vector<uint32_t> Capture(HWND window, int* width = nullptr, int* height = nullptr) {
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
    if (width) *width = w;
    if (height) *height = h;
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
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

// Wine's desktop: posted mouse messages, the thread's message loop, GDI.
class WineDesktop : public EditorDesktop {
 public:
  WindowId MakeHostWindow(int x, int y, int width, int height) override {
    return AsId(::MakeHostWindow(x, y, width, height));
  }
  void DestroyWindow(WindowId window) override { ::DestroyWindow(AsHwnd(window)); }
  WindowId EditorOf(WindowId host) override { return AsId(::EditorOf(AsHwnd(host))); }
  int EditorsIn(WindowId host) override {
    int n = 0;
    for (HWND child = nullptr; (child = FindWindowExA(AsHwnd(host), child, kEditorClass, nullptr)) != nullptr;) ++n;
    return n;
  }
  bool EditorGone(WindowId host, WindowId editor) override {
    return ::EditorOf(AsHwnd(host)) == nullptr && !IsWindow(AsHwnd(editor));
  }
  Pixels Capture(WindowId window, int* width, int* height) override {
    return ::Capture(AsHwnd(window), width, height);
  }
  void Click(WindowId editor, Point p, int button) override {
    const bool right = button == 3;
    PostMessageA(AsHwnd(editor), right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON,
                 MAKELPARAM(p.x, p.y));
    PostMessageA(AsHwnd(editor), right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  }
  void Press(WindowId editor, Point p) override {
    PostMessageA(AsHwnd(editor), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  }
  void Move(WindowId editor, Point p) override {
    PostMessageA(AsHwnd(editor), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  }
  void Release(WindowId editor, Point p) override {
    PostMessageA(AsHwnd(editor), WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  }
  // The wheel's position comes in screen coordinates.
  void WheelDown(WindowId editor, Point p) override {
    POINT screen = {p.x, p.y};
    ClientToScreen(AsHwnd(editor), &screen);
    PostMessageA(AsHwnd(editor), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)),
                 MAKELPARAM(screen.x, screen.y));
  }
  void DoubleClick(WindowId editor, Point p) override {
    PostMessageA(AsHwnd(editor), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  }
  bool PointerFree() override { return GetCapture() == nullptr; }
  void SaveShot(const Pixels& pixels, int width, int height, const std::string& name) override {
    PIX_MemBitmap bitmap;
    bitmap.Resize(width, height);
    if (pixels.size() != static_cast<size_t>(width) * height || !bitmap.PixelData()) return;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        bitmap.Row(y)[x] = pixels[static_cast<size_t>(y) * width + x] | 0xFF000000u;
    const std::string path = gShotFolder + "/" + name;
    CHECK(WriteBitmapPng(&bitmap, path.c_str()), "screenshot %s not written", path.c_str());
  }
  // Text is GDI's here and FreeType's on Linux: the version line is
  // compared by having ink, everything else pixel for pixel.
  std::string ReferenceDiffers(const Pixels& shown, int width, int height, double scale) override {
    int w = 0, h = 0;
    const std::vector<uint32_t> linux = LinuxPicture(scale, &w, &h);
    if (linux.empty()) return "";
    auto px = [&](int design) { return static_cast<int>(design * scale); };
    const RECT text = {0, px(kVersionText.top), px(kVersionText.right), px(kVersionText.bottom)};
    int differing = -1, ink = 0;
    if (shown.size() == linux.size() && w == width && h == height) {
      differing = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const size_t i = static_cast<size_t>(y) * width + x;
          const bool inText = x < text.right && y >= text.top && y < text.bottom;
          if (!inText) differing += shown[i] != linux[i];
          else ink += (shown[i] & 0xFF) > 0xC0;
        }
    }
    if (differing == 0 && ink > 20 * scale) return "";
    return Text("Linux's ", w, " x ", h, " picture differs in ", differing, " pixels (text ink ", ink, ")");
  }
};

// ---------------------------------------------------------------- the two formats

// The window class goes with the last editor of a module.
std::string ClassWrong(HMODULE module, bool editorOpen) {
  if (ClassRegistered(module) == editorOpen) return "";
  return editorOpen ? "the window class is gone while an editor is open" : "the window class stays registered";
}

class Vst2EditorPlug : public EditorPlug {
 public:
  explicit Vst2EditorPlug(const Vst2Module& module) : module_(module) {
    effect_ = module.Create();
    key_ = effect_;
    // An instance may reuse an earlier one's address.
    auto& events = HostEvents();
    events.erase(std::remove_if(events.begin(), events.end(), [&](const HostEvent& e) { return e.instance == key_; }),
                 events.end());
    if (effect_) StartVst2(effect_, 44100.0f, 512);
  }
  ~Vst2EditorPlug() override { Destroy(); }
  bool Open(WindowId parent) override {
    return effect_ && Dispatch(effect_, vst2::effEditOpen, 0, 0, AsHwnd(parent)) == 1;
  }
  void Close() override {
    if (effect_) Dispatch(effect_, vst2::effEditClose);
  }
  void Destroy() override {
    if (effect_) Dispatch(effect_, vst2::effClose);
    effect_ = nullptr;
  }
  void Pump(int ms) override { PumpMessages(static_cast<DWORD>(ms)); }
  bool SizeIsEditorSize() override {
    vst2::ERect* rect = nullptr;
    return effect_ && Dispatch(effect_, vst2::effEditGetRect, 0, 0, &rect) == 1 && rect &&
           rect->left == 0 && rect->top == 0 && rect->right == kWidth && rect->bottom == kHeight;
  }
  void Automate(int index, double normalized) override {
    effect_->setParameter(effect_, index, static_cast<float>(normalized));
  }
  double LastAutomated(int index) const override {
    double v = -1.0;
    for (const HostEvent& e : HostEvents())
      if (e.kind == HostEvent::Automate && e.instance == key_ && e.index == index) v = e.value;
    return v;
  }
  int Begins(int index) const override { return CountEvents(HostEvent::Begin, key_, index); }
  int Ends(int index) const override { return CountEvents(HostEvent::End, key_, index); }
  std::string LinksWrong(bool editorOpen) const override { return ClassWrong(module_.Handle(), editorOpen); }
  vst2::AEffect* Effect() const { return effect_; }
  const void* EventKey() const { return key_; }
  HMODULE Module() const { return module_.Handle(); }

 private:
  const Vst2Module& module_;
  vst2::AEffect* effect_ = nullptr;
  const void* key_ = nullptr;
};

class Vst3EditorPlug : public Vst3EditorPlugBase {
 public:
  Vst3EditorPlug(HMODULE module, IPluginFactory* factory)
      : Vst3EditorPlugBase(kPlatformTypeHWND), module_(module), plug_(new Vst3Plugin(factory, &host_, &handler_)) {
    if (!plug_->Valid()) return;
    plug_->Start(44100.0, 512);
    SetView(plug_->controller->createView(ViewType::kEditor));
  }
  ~Vst3EditorPlug() override { Destroy(); }
  void Destroy() override {
    ReleaseView();
    if (plug_) {
      plug_->processor->setProcessing(false);
      plug_->component->setActive(false);
    }
    plug_.reset();
  }
  void Pump(int ms) override { PumpMessages(static_cast<DWORD>(ms)); }
  void Automate(int index, double normalized) override {
    ParamChanges changes;
    changes.Add(Id(index), {normalized});
    std::vector<double> silence(32, 0.0), out0(32), out1(32);
    const double* ins[4] = {silence.data(), silence.data(), silence.data(), silence.data()};
    double* outs[2] = {out0.data(), out1.data()};
    plug_->Process(ins, outs, 32, &changes);
  }
  std::string LinksWrong(bool editorOpen) const override { return ClassWrong(module_, editorOpen); }

 private:
  HMODULE module_;
  HostApplication host_;
  std::unique_ptr<Vst3Plugin> plug_;
};

WineDesktop& Desktop() {
  static WineDesktop desktop;
  return desktop;
}

#ifdef KESTRUNE_WINE_CLAP
// CLAP on Windows: the editor runs on the thread's messages, and its window
// class goes with the last editor.
class WinClapEditorPlug : public ClapEditorPlug {
 public:
  explicit WinClapEditorPlug(const host::ClapModule& module) : ClapEditorPlug(module, CLAP_WINDOW_API_WIN32) {}
  void Pump(int ms) override {
    PumpMessages(static_cast<DWORD>(ms));
    CollectEvents();
  }
  std::string LinksWrong(bool editorOpen) const override {
    return ClassWrong(GetModuleHandleA("Kestrune.clap"), editorOpen);
  }
};
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
  host::EditorComponentHandler handler;
  Vst3Plugin other(factory, &host, &handler);
  if (!CHECK(other.Valid())) return;
  CHECK(other.controller->createView("editor2") == nullptr);
  CHECK(other.controller->createView(nullptr) == nullptr);
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
    ViewRect size;
    CHECK(view->getSize(&size) == kResultOk && size.getWidth() == width &&
              size.getHeight() == height,
          "size at %g: %d x %d", scale, size.getWidth(), size.getHeight());
    HWND host = MakeHostWindow(20, 20, width, height);
    if (!CHECK(plug.Open(AsId(host)), "opens at %g", scale)) break;
    HWND editor = EditorOf(host);
    PumpMessages(300);
    RECT client = {};
    char shot[32];
    std::snprintf(shot, sizeof shot, "editor-vst3-%g.png", scale);
    ShowsAndTakesInputAtScale(Desktop(), plug, AsId(editor), scale, shot);

    if (scale == 1.5) {
      // Not from inside the host's call: from the next tick, once.
      CHECK(scaling->setContentScaleFactor(2.0f) == kResultTrue);
      CHECK(plug.Frame().resizes.empty(), "resize requested inside the host's call");
      PumpMessages(200);
      CHECK(plug.Frame().resizes.size() == 1, "%d resize requests", static_cast<int>(plug.Frame().resizes.size()));
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
    Vst2EditorPlug plug(module);
    const HANDLE before = setContext(scale == 2 ? perMonitorV2 : unaware);
    HWND host = MakeHostWindow(20, 20, kWidth, kHeight);
    setContext(before);
    if (!CHECK(plug.Open(AsId(host)), "opens at %d", scale)) return;
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
    Desktop().Click(AsId(editor), {kBypass.x * scale, kBypass.y * scale}, 1);
    PumpMessages(150);
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
  // The shared scenarios, for each format in turn.
  auto make = [&](bool vst3) -> std::unique_ptr<EditorPlug> {
    if (vst3) return std::make_unique<Vst3EditorPlug>(vst3Handle, vst3Module.Factory());
    return std::make_unique<Vst2EditorPlug>(vst2Module);
  };
  for (bool vst3 : {false, true}) {
    const std::string format = vst3 ? "Vst3" : "Vst2";
    r.Run((format + "EditorTakesMouseInputAndShowsIt").c_str(), [&] {
      MouseReachesTheParameters(Desktop(), *make(vst3), vst3 ? "editor-vst3.png" : "editor-vst2.png");
    });
    r.Run((format + "EditorClosesAndReopensManyTimes").c_str(),
          [&] { ClosesAndReopensManyTimes(Desktop(), *make(vst3)); });
    r.Run((format + "EditorsOfTwoInstancesOpenAtOnce").c_str(),
          [&] { TwoEditorsWorkAtOnce(Desktop(), *make(vst3), *make(vst3)); });
    r.Run((format + "InstanceDestroyedWithItsEditorOpen").c_str(),
          [&] { DestroyedWithItsEditorOpenMidDrag(Desktop(), *make(vst3)); });
  }
#ifdef KESTRUNE_WINE_CLAP
  if (clapPath) {
    r.Run("ClapEditorTakesMouseInputAndShowsIt", [&] {
      host::ClapModule module;
      std::string error;
      if (!CHECK(module.Load(clapPath, error), "%s", error.c_str())) return;
      WinClapEditorPlug plug(module);
      CHECK(!plug.Supports(CLAP_WINDOW_API_X11), "x11 on Windows");
      MouseReachesTheParameters(Desktop(), plug, "editor-clap.png");
    });
  } else {
    r.Skip("ClapEditorTakesMouseInputAndShowsIt", "no Kestrune.clap given");
  }
#else
  (void)clapPath;
#endif
  r.Run("Vst2EditorRefusesAParentThatIsNoWindow", [&] { RefusesAParentThatIsNoWindow(Desktop(), *make(false)); });
  r.Run("Vst3ViewAnswersOnlyForTheEditorAndHwnd",
        [&] { Vst3ViewContract(vst3Module.Factory(), vst3Handle); });
  r.Run("Vst3EditorAtTheHostsContentScaleIsTheLinuxPictureAndInputMovesTheSame",
        [&] { AtTheHostsContentScale(vst3Module.Factory(), vst3Handle); });
  r.Run("Vst2EditorAt192DpiFollowsTheHostWindowsAwareness", RunAt192Dpi);
  return r.Finish();
}
