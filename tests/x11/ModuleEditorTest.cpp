// The editor of both Linux modules in real X windows on a private Xvfb: each
// module is loaded through its exported entry, its editor embedded in a
// host's top-level window and driven with XTest input, while the host drives
// the editor as a real one does (VST2 effEditIdle; VST3 the IRunLoop from the
// plug frame). Checked by what the host saw (parameter values, gestures, the
// context menu, keys) and by the window's pixels, which must equal the
// picture the window-less editor renders for the same settings. Screenshots
// of both editors land in the build folder.
#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <poll.h>

#include "ClapHostObjects.h"
#include "IGraphicsOffscreen.h"
#include "ImagePacks.h"
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include <X11/Xatom.h>
#include "Kestrune.h"
#include "ScriptedHost.h"
#include "Lv2UridMap.h"
#include "Vst2ModuleHandle.h"
#include "Vst3EditorHost.h"
#include "../support/ClapEditorPlug.h"
#include "../support/Vst3EditorPlug.h"
#include "XTestSupport.h"

using namespace xtest;
using namespace editor_test;

namespace editor_test {
bool Check(bool ok, const char* file, int line, const char* expression, const std::string& detail) {
  if (!ok) ADD_FAILURE_AT(file, line) << expression << " " << detail;
  return ok;
}
}  // namespace editor_test

namespace {

Window AsWindow(WindowId id) { return static_cast<Window>(id); }
void* AsParent(WindowId id) { return reinterpret_cast<void*>(id); }

// ---------------------------------------------------------------- the formats

class Vst2EditorPlug : public EditorPlug {
 public:
  explicit Vst2EditorPlug(ScriptedHost& host) : host_(host), plug_(new PluginInstance(host)) {
    plug_->Start(44100.0f, 512);
    effect_ = plug_->effect;
  }
  bool Open(WindowId parent) override {
    return plug_ && plug_->Dispatch(vst2::effEditOpen, 0, 0, AsParent(parent)) == 1;
  }
  void Close() override {
    if (plug_) plug_->Dispatch(vst2::effEditClose);
  }
  void Destroy() override {
    if (plug_) plug_->Close();
    plug_.reset();
  }
  void Pump(int ms) override {
    PumpFor(ms, [this] {
      if (plug_) plug_->Dispatch(vst2::effEditIdle);
    });
  }
  bool SizeIsEditorSize() override {
    vst2::ERect* rect = nullptr;
    return plug_->Dispatch(vst2::effEditGetRect, 0, 0, &rect) == 1 && rect && rect->left == 0 &&
           rect->top == 0 && rect->right == kWidth && rect->bottom == kHeight;
  }
  void Automate(int index, double normalized) override {
    plug_->Set(index, static_cast<float>(normalized));
  }
  double LastAutomated(int index) const override {
    double v = -1.0;
    for (const HostCall& c : host_.calls)
      if (c.effect == effect_ && c.opcode == vst2::audioMasterAutomate && c.index == index) v = c.opt;
    return v;
  }
  int Begins(int index) const override { return Count(vst2::audioMasterBeginEdit, index); }
  int Ends(int index) const override { return Count(vst2::audioMasterEndEdit, index); }
  void AskedSize(int* width, int* height) const {
    *width = *height = 0;
    for (const HostCall& c : host_.calls)
      if (c.effect == effect_ && c.opcode == vst2::audioMasterSizeWindow) {
        *width = c.index;
        *height = static_cast<int>(c.value);
      }
  }

 private:
  int Count(int32_t opcode, int index) const {
    int n = 0;
    for (const HostCall& c : host_.calls) n += c.effect == effect_ && c.opcode == opcode && c.index == index;
    return n;
  }
  ScriptedHost& host_;
  std::unique_ptr<PluginInstance> plug_;
  const vst2::AEffect* effect_ = nullptr;
};

class Vst3EditorPlug : public Vst3EditorPlugBase {
 public:
  explicit Vst3EditorPlug(host::Module& module)
      : Vst3EditorPlugBase(host::kPlatformTypeX11EmbedWindowID),
        application_("Bitwig Studio"),
        plug_(new host::Plugin(module.Factory())) {
    frame_.runLoop = &runLoop_;
    plug_->Start(&application_, 44100.0, 512);
    plug_->controller->setComponentHandler(&handler_);
    SetView(plug_->controller->createView(host::ViewType::kEditor));
  }
  ~Vst3EditorPlug() override { Destroy(); }
  void Destroy() override {
    ReleaseView();
    if (plug_) {
      plug_->component->setActive(false);
      plug_->controller->setComponentHandler(nullptr);
      plug_->component->terminate();
      EXPECT_EQ(plug_->Release(), 0u);
    }
    plug_.reset();
  }
  void Pump(int ms) override { runLoop_.Run(ms); }
  void Automate(int index, double normalized) override {
    host::ParamChanges changes;
    changes.Add(Id(index), {normalized});
    host::ProcessData data{};
    data.symbolicSampleSize = host::kSample32;
    data.inputParameterChanges = &changes;
    plug_->processor->process(data);
  }
  // The editor's handler and timer are in the host's run loop while it is
  // open (and the timer has run), and gone with every reference once closed.
  std::string LinksWrong(bool editorOpen) const override {
    const host::RunLoop& loop = runLoop_;
    if (editorOpen && (loop.handlers.size() != 1 || loop.timers.size() != 1 || loop.timerCalls == 0))
      return Text("run loop with the editor open: ", loop.handlers.size(), " handlers, ", loop.timers.size(),
                  " timers, ", loop.timerCalls, " timer calls");
    if (!editorOpen && (!loop.handlers.empty() || !loop.timers.empty() || loop.refs != 0))
      return Text("left in the run loop: ", loop.handlers.size(), " handlers, ", loop.timers.size(),
                  " timers, ", static_cast<int>(loop.refs), " references");
    return "";
  }
  void AskedSize(int* width, int* height) const {
    *width = frame_.resizes.empty() ? 0 : frame_.resizes.back().getWidth();
    *height = frame_.resizes.empty() ? 0 : frame_.resizes.back().getHeight();
  }
  host::RunLoop& Loop() { return runLoop_; }

 private:
  host::HostApplication application_;
  host::RunLoop runLoop_;
  std::unique_ptr<host::Plugin> plug_;
};

#ifdef KESTRUNE_CLAP_MODULE
// CLAP on X11: the host runs the editor through its timer and descriptor
// callbacks.
class X11ClapEditorPlug : public ClapEditorPlug {
 public:
  X11ClapEditorPlug() : ClapEditorPlug(Module(), CLAP_WINDOW_API_X11) {}
  void Pump(int ms) override {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    auto next = Clock::now();
    do {
      std::vector<pollfd> fds;
      for (int fd : context_.fds) fds.push_back({fd, POLLIN, 0});
      poll(fds.data(), fds.size(), 5);
      for (const pollfd& p : fds)
        if ((p.revents & POLLIN) && fd_ && plug_) fd_->on_fd(plug_->plugin, p.fd, CLAP_POSIX_FD_READ);
      if (Clock::now() >= next && timer_ && plug_) {
        const auto timers = context_.timers;
        for (const auto& t : timers) timer_->on_timer(plug_->plugin, t.id);
        next = Clock::now() + std::chrono::milliseconds(timers.empty() ? 30 : timers.front().periodMs);
      }
      CollectEvents();
    } while (Clock::now() < end);
  }
  // No timer or descriptor left with the host once the editor is closed.
  std::string LinksWrong(bool editorOpen) const override {
    if (editorOpen || (context_.timers.empty() && context_.fds.empty())) return "";
    return Text("left with the host: ", context_.timers.size(), " timers, ", context_.fds.size(), " descriptors");
  }

 private:
  static const host::ClapModule& Module() {
    static host::ClapModule module;
    std::string error;
    static const bool loaded = module.Load(KESTRUNE_CLAP_MODULE, error);
    EXPECT_TRUE(loaded) << error;
    return module;
  }
};
#endif

host::Module& Vst3Module() {
  static host::Module module;
  return module;
}

// The editor the window-less layer renders for default settings, as the
// render and snapshot tools draw it: 0x00RRGGBB per pixel.
std::vector<uint32_t> ReferencePicture(double scale = 1.0) {
  TestHost host;
  Kestrune plug(&host);
  auto* editor = dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
  std::vector<uint32_t> pixels;
  if (!editor) return pixels;
  editor->SetScale(scale);
  editor->RenderAll();
  PIX_IBitmap* b = editor->BackBuffer();
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x) pixels.push_back(b->Row(y)[x] & 0xFFFFFFu);
  return pixels;
}

// Pixels of a window's picture that are not the editor at this scale at its
// top left, with the panel's darkest colour beyond it.
int WrongPixels(const std::vector<uint32_t>& shown, int width, int height, double scale) {
  const std::vector<uint32_t> picture = ReferencePicture(scale);
  const int editorWidth = static_cast<int>(std::floor(912 * scale + 1e-6));
  if (picture.empty() || picture.size() % static_cast<size_t>(editorWidth) != 0) return width * height;
  const int editorHeight = static_cast<int>(picture.size() / static_cast<size_t>(editorWidth));
  int wrong = 0;
  for (int py = 0; py < height; ++py)
    for (int px = 0; px < width; ++px) {
      const uint32_t pixel = shown[static_cast<size_t>(py) * static_cast<size_t>(width) + static_cast<size_t>(px)];
      if (px < editorWidth && py < editorHeight)
        wrong += pixel != picture[static_cast<size_t>(py) * static_cast<size_t>(editorWidth) + static_cast<size_t>(px)];
      else
        wrong += pixel != 0x141518u;
    }
  return wrong;
}

// The LV2 UI module as a host loads it.
struct Lv2UiModule {
  Lv2UiModule() {
    if (!module) return;
    auto descriptor = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(
        dlsym(module, "lv2ui_descriptor"));
    ui = descriptor ? descriptor(0) : nullptr;
    if (ui) idle = static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
  }
  ~Lv2UiModule() {
    if (module) dlclose(module);
  }
  LV2UI_Handle Instantiate(const LV2_Feature* const* features, LV2UI_Widget* widget) const {
    auto write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
    return ui->instantiate(ui, "urn:marlowind:kestrune", "", write, nullptr, widget, features);
  }
  void* module = dlopen(KESTRUNE_LV2_UI_MODULE, RTLD_NOW | RTLD_LOCAL);
  const LV2UI_Descriptor* ui = nullptr;
  const LV2UI_Idle_Interface* idle = nullptr;
};

// The X server: the host's own connection, XTest input, XGetImage.
class X11Desktop : public EditorDesktop {
 public:
  HostDisplay x;

  WindowId MakeHostWindow(int left, int top, int width, int height) override {
    return x.MakeHostWindow(left, top, width, height);
  }
  void DestroyWindow(WindowId window) override { x.Destroy(AsWindow(window)); }
  WindowId EditorOf(WindowId host) override { return x.EditorOf(AsWindow(host)); }
  int EditorsIn(WindowId host) override { return static_cast<int>(x.Children(AsWindow(host)).size()); }
  bool EditorGone(WindowId host, WindowId) override { return x.Children(AsWindow(host)).empty(); }
  Pixels Capture(WindowId window, int* width, int* height) override {
    return x.Capture(AsWindow(window), width, height);
  }
  void Click(WindowId editor, Point p, int button) override {
    x.MoveTo(AsWindow(editor), p.x, p.y);
    x.Button(static_cast<unsigned>(button), true);
    x.Button(static_cast<unsigned>(button), false);
  }
  void Press(WindowId editor, Point p) override {
    x.MoveTo(AsWindow(editor), p.x, p.y);
    x.Button(1, true);
  }
  void Move(WindowId editor, Point p) override { x.MoveTo(AsWindow(editor), p.x, p.y); }
  void Release(WindowId, Point) override { x.Button(1, false); }
  void WheelDown(WindowId editor, Point p) override { Click(editor, p, 5); }
  void DoubleClick(WindowId editor, Point p) override {
    SleepMs(450);  // not a double click with an earlier press
    Click(editor, p, 1);
    Click(editor, p, 1);
  }
  bool PointerFree() override { return x.PointerFree(); }
  void SaveShot(const Pixels& pixels, int width, int height, const std::string& name) override {
    EXPECT_TRUE(SavePng(pixels, width, height, name)) << name;
  }
  std::string ReferenceDiffers(const Pixels& shown, int, int, double scale) override {
    const Pixels reference = ReferencePicture(scale);
    if (shown == reference) return "";
    int differing = 0;
    for (size_t i = 0; i < std::min(shown.size(), reference.size()); ++i) differing += shown[i] != reference[i];
    return Text(differing, " pixels differ (", shown.size(), " shown, ", reference.size(), " rendered)");
  }
  // Keys the editor does not take reach the host's window.
  void CheckWhileOpen(EditorPlug& plug, WindowId host, WindowId editor) override {
    x.KeysAt(AsWindow(host));
    x.MoveTo(AsWindow(editor), kEmpty.x, kEmpty.y);
    x.Tap(XK_F1);
    x.Tap(XK_a);
    plug.Pump(100);
    EXPECT_EQ(x.KeysAt(AsWindow(host)), (std::vector<KeySym>{XK_F1, XK_a}));
  }
};

enum class Format { Vst2, Vst3, Clap };

class ModuleEditor : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override { ASSERT_NE(x_.Get(), nullptr) << "no connection to the display"; }
  std::unique_ptr<EditorPlug> Make() {
    if (GetParam() == Format::Vst2) return std::make_unique<Vst2EditorPlug>(vst2Host_);
#ifdef KESTRUNE_CLAP_MODULE
    if (GetParam() == Format::Clap) return std::make_unique<X11ClapEditorPlug>();
#endif
    return std::make_unique<Vst3EditorPlug>(Vst3Module());
  }
  const char* Name() const {
    return GetParam() == Format::Vst2 ? "vst2" : GetParam() == Format::Clap ? "clap" : "vst3";
  }
  // The last size the editor asked the host's window to take (0 x 0: none).
  void AskedSize(const EditorPlug& plug, int* width, int* height) const {
    *width = *height = 0;
    if (GetParam() == Format::Vst2) static_cast<const Vst2EditorPlug&>(plug).AskedSize(width, height);
    if (GetParam() == Format::Vst3) static_cast<const Vst3EditorPlug&>(plug).AskedSize(width, height);
#ifdef KESTRUNE_CLAP_MODULE
    if (GetParam() == Format::Clap) static_cast<const ClapEditorPlug&>(plug).AskedSize(width, height);
#endif
  }

  ScriptedHost vst2Host_;
  X11Desktop desktop_;
  HostDisplay& x_ = desktop_.x;
};

// ---------------------------------------------------------------- scenarios

TEST_P(ModuleEditor, RealInputReachesTheParametersAndShows) {
  std::unique_ptr<EditorPlug> plug = Make();
  MouseReachesTheParameters(desktop_, *plug, std::string("editor-") + Name() + ".png");
}

TEST_P(ModuleEditor, ClosesAndReopensManyTimes) {
  std::unique_ptr<EditorPlug> plug = Make();
  ClosesAndReopensManyTimes(desktop_, *plug);
}

TEST_P(ModuleEditor, TwoEditorsWorkAtOnce) {
  std::unique_ptr<EditorPlug> a = Make();
  std::unique_ptr<EditorPlug> b = Make();
  TwoEditorsWorkAtOnce(desktop_, *a, *b);
}

TEST_P(ModuleEditor, InstanceDestroyedWithItsEditorOpenMidDrag) {
  std::unique_ptr<EditorPlug> plug = Make();
  DestroyedWithItsEditorOpenMidDrag(desktop_, *plug);
}

TEST_P(ModuleEditor, RefusesAParentThatIsNoWindow) {
  std::unique_ptr<EditorPlug> plug = Make();
  RefusesAParentThatIsNoWindow(desktop_, *plug);
}

// The desktop's scale as toolkits publish it: Xft.dpi among the root
// window's resources (none: 96 dpi).
void SetDesktopDpi(Display* display, int dpi) {
  const Atom resources = XInternAtom(display, "RESOURCE_MANAGER", False);
  if (dpi == 0) {
    XDeleteProperty(display, DefaultRootWindow(display), resources);
  } else {
    const std::string text = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    XChangeProperty(display, DefaultRootWindow(display), resources, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  }
  XSync(display, False);
}

TEST_P(ModuleEditor, AtTheDesktopsScaleItIsTheRenderedPictureAndInputMovesTheSame) {
  for (double scale : {1.5, 2.0}) {
    SetDesktopDpi(x_.Get(), static_cast<int>(96 * scale));
    std::unique_ptr<EditorPlug> plug = Make();
    const int width = static_cast<int>(kWidth * scale), height = static_cast<int>(kHeight * scale);
    Window host = x_.MakeHostWindow(0, 0, width, height);
    ASSERT_TRUE(plug->Open(host));
    const WindowId editor = x_.EditorOf(host);
    plug->Pump(100);
    int askedWidth = 0, askedHeight = 0;
    AskedSize(*plug, &askedWidth, &askedHeight);
    EXPECT_EQ(askedWidth, width) << "the host is asked to fit its window";
    EXPECT_EQ(askedHeight, height);
    ShowsAndTakesInputAtScale(desktop_, *plug, editor, scale,
                              std::string("editor-") + Name() + "-" + std::to_string(scale).substr(0, 3) + ".png");
    plug->Close();
    x_.Destroy(host);
  }
  SetDesktopDpi(x_.Get(), 0);
}

TEST_P(ModuleEditor, CornerHandleResizesTheEditorAndTheHostIsAskedToFollow) {
  std::unique_ptr<EditorPlug> plug = Make();
  Window host = x_.MakeHostWindow(0, 0, 1368, 430);
  ASSERT_TRUE(plug->Open(host));
  Window editor = x_.EditorOf(host);
  plug->Pump(60);
  // Dragged out beyond the window: the pointer stays the editor's.
  x_.MoveTo(editor, 908, 283);
  plug->Pump(40);
  x_.Button(1, true);
  plug->Pump(40);
  for (int step = 1; step <= 4; ++step) {
    x_.MoveTo(editor, 908 + 456 * step / 4, 283 + 143 * step / 4);
    plug->Pump(30);
  }
  x_.Button(1, false);
  plug->Pump(100);
  int w = 0, h = 0;
  ASSERT_TRUE(x_.Geometry(editor, &w, &h));
  EXPECT_EQ(w, 1368);
  EXPECT_EQ(h, 430);
  int askedWidth = 0, askedHeight = 0;
  AskedSize(*plug, &askedWidth, &askedHeight);
  EXPECT_EQ(askedWidth, 1368);
  EXPECT_EQ(askedHeight, 430);
  EXPECT_TRUE(x_.PointerFree());
  EXPECT_EQ(plug->LastAutomated(13), -1.0) << "SIDECHAIN beneath the handle changed";
  plug->Close();
  x_.Destroy(host);
}

TEST_P(ModuleEditor, IsDrawnBeforeTheHostRunsIt) {
  // A host that never idles (VST2) or has not run its loop yet (VST3) still
  // shows the whole editor.
  std::unique_ptr<EditorPlug> plug = Make();
  Window host = x_.MakeHostWindow(20, 20, kWidth, kHeight);
  ASSERT_TRUE(plug->Open(host));
  EXPECT_EQ(x_.Capture(x_.EditorOf(host)), ReferencePicture());
  plug->Close();
  x_.Destroy(host);
}

TEST_P(ModuleEditor, HostDestroyingItsWindowFirstIsSurvived) {
  std::unique_ptr<EditorPlug> plug = Make();
  Window host = x_.MakeHostWindow(60, 60, kWidth, kHeight);
  ASSERT_TRUE(plug->Open(host));
  plug->Pump(50);
  x_.Destroy(host);
  plug->Pump(100);  // the editor's requests on its dead window must not be fatal
  plug->Automate(10, 1.0);
  plug->Pump(100);
  plug->Close();
  // The editor opens again in a new window afterwards.
  Window again = x_.MakeHostWindow(60, 60, kWidth, kHeight);
  ASSERT_TRUE(plug->Open(again));
  plug->Pump(100);
  EXPECT_GT(DistinctColours(x_.Capture(x_.EditorOf(again))), 20);
  plug->Close();
  x_.Destroy(again);
}

#ifdef KESTRUNE_CLAP_MODULE
#define KESTRUNE_EDITOR_FORMATS Format::Vst2, Format::Vst3, Format::Clap
#else
#define KESTRUNE_EDITOR_FORMATS Format::Vst2, Format::Vst3
#endif
INSTANTIATE_TEST_SUITE_P(Formats, ModuleEditor, ::testing::Values(KESTRUNE_EDITOR_FORMATS),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return info.param == Format::Vst2   ? "Vst2"
                                  : info.param == Format::Vst3 ? "Vst3"
                                                               : "Clap";
                         });

// ---------------------------------------------------------------- image packs

// The 2x and 3x images are files beside the module, which a user or packager
// may damage or leave out: the editor at 2x then draws what it can from them
// and resamples the 1x images for the rest. Each case loads its own copy of
// the VST2 module from a folder of its own, with the pack given beside it.
class ModuleImagePacks : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(x_.Get(), nullptr) << "no connection to the display";
    char dir[] = "/tmp/kestrune-packs-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    SetDesktopDpi(x_.Get(), 192);
  }
  void TearDown() override {
    SetDesktopDpi(x_.Get(), 0);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static std::string BuiltPack() {
    const std::string path =
        std::filesystem::path(KESTRUNE_VST2_MODULE).parent_path().string() +
        "/Kestrune.images/Kestrune@2x.pack";
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  enum class Pack { Missing, Bytes };
  // The window's picture of the editor at 2x.
  std::vector<uint32_t> EditorAt2x(const std::string& name, Pack kind, const std::string& bytes = "") {
    const std::string folder = dir_ + "/" + name;
    const std::string images = folder + "/Kestrune.images";
    std::filesystem::create_directories(images);
    std::filesystem::copy_file(KESTRUNE_VST2_MODULE, folder + "/Kestrune.so");
    if (kind == Pack::Bytes) std::ofstream(images + "/Kestrune@2x.pack", std::ios::binary) << bytes;
    std::vector<uint32_t> picture;
    host::Vst2ModuleHandle module;
    host::Vst2Plugin plug;
    std::string error;
    if (!module.Load(folder + "/Kestrune.so", error) || !plug.Create(module.Entry(), host_, false, error)) {
      ADD_FAILURE() << error;
      return picture;
    }
    plug.Dispatch(vst2::effOpen);
    Window host = x_.MakeHostWindow(0, 0, 2 * kWidth, 2 * kHeight);
    EXPECT_EQ(plug.Dispatch(vst2::effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(host))), 1)
        << name;
    PumpFor(100, [&] { plug.Dispatch(vst2::effEditIdle); });
    int w = 0, h = 0;
    if (Window editor = x_.EditorOf(host)) picture = x_.Capture(editor, &w, &h);
    EXPECT_EQ(w, 2 * kWidth) << name;
    EXPECT_EQ(h, 2 * kHeight) << name;
    plug.Dispatch(vst2::effEditClose);
    plug.Close();
    x_.Destroy(host);
    return picture;
  }

  // Mean difference per colour channel: the same editor, drawn from other
  // images, differs a little at edges; a blank or garbled one by far more.
  static double MeanDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
      for (int shift : {0, 8, 16})
        sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
    return sum / (3.0 * static_cast<double>(a.size()));
  }

  ScriptedHost host_;
  HostDisplay x_;
  std::string dir_;
};

TEST_F(ModuleImagePacks, TheLv2UiAt2xDrawsFromThePackInItsBundleAndTakesTheHostsScale) {
  const Lv2UiModule lv2;
  ASSERT_NE(lv2.module, nullptr) << dlerror();
  ASSERT_NE(lv2.ui, nullptr);
  const LV2UI_Descriptor* ui = lv2.ui;
  Window host = x_.MakeHostWindow(0, 0, 2 * kWidth, 2 * kHeight);
  LV2_Feature parent = {LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(host))};
  const LV2_Feature* features[] = {&parent, nullptr};
  LV2UI_Widget widget = nullptr;
  LV2UI_Handle handle = lv2.Instantiate(features, &widget);
  ASSERT_NE(handle, nullptr);
  const LV2UI_Idle_Interface* idle = lv2.idle;
  ASSERT_NE(idle, nullptr);
  PumpFor(100, [&] { idle->idle(handle); });
  int w = 0, h = 0;
  const std::vector<uint32_t> picture =
      x_.Capture(static_cast<Window>(reinterpret_cast<uintptr_t>(widget)), &w, &h);
  EXPECT_EQ(w, 2 * kWidth);
  EXPECT_TRUE(picture == ReferencePicture(2.0)) << "the UI did not draw from its bundle's pack";
  ui->cleanup(handle);

  // The host's scale (ui:scaleFactor) replaces the desktop's.
  host::Lv2UridMap urids;
  const float scale = 1.5f;
  const LV2_Options_Option options[] = {
      {LV2_OPTIONS_INSTANCE, 0, urids.Map(LV2_UI__scaleFactor), sizeof(float), urids.Map(LV2_ATOM__Float),
       &scale},
      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  LV2_Feature optionsFeature = {LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
  const LV2_Feature* scaled[] = {&parent, &urids.mapFeature, &optionsFeature, nullptr};
  handle = lv2.Instantiate(scaled, &widget);
  ASSERT_NE(handle, nullptr);
  PumpFor(100, [&] { idle->idle(handle); });
  x_.Capture(static_cast<Window>(reinterpret_cast<uintptr_t>(widget)), &w, &h);
  EXPECT_EQ(w, 1368);
  EXPECT_EQ(h, 430);
  ui->cleanup(handle);
  x_.Destroy(host);
}

TEST_F(ModuleImagePacks, WithoutItsPackTheEditorAt2xResamplesThe1xImages) {
  const std::vector<uint32_t> drawn = ReferencePicture(2.0);
  const std::vector<uint32_t> resampled = EditorAt2x("none", Pack::Missing);
  ASSERT_EQ(resampled.size(), drawn.size());
  EXPECT_FALSE(resampled == drawn) << "the module found images it was not given";
  EXPECT_GT(DistinctColours(resampled), 20);
  EXPECT_LT(MeanDifference(resampled, drawn), 12.0);  // about 4; a blank editor: 50
}

TEST_F(ModuleImagePacks, ADamagedPackIsUsedOnlyAsFarAsItHoldsAndTheEditorAt2xStillOpens) {
  const std::string pack = BuiltPack();
  ASSERT_GT(pack.size(), 1000000u);
  const std::vector<uint32_t> drawn = ReferencePicture(2.0);
  // Nothing usable: every image resampled from 1x.
  const std::vector<uint32_t> resampled = EditorAt2x("empty", Pack::Bytes, "");
  EXPECT_FALSE(resampled == drawn);
  std::string garbled = pack;
  garbled[0] ^= 0x20;  // the magic
  EXPECT_EQ(EditorAt2x("bad-magic", Pack::Bytes, garbled), resampled);
  // Some frames lost: those resampled, the rest from the pack.
  PackedImage background;
  const unsigned char* png = nullptr;
  size_t pngLength = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(pack.data());
  ASSERT_TRUE(FindPackedImage(bytes, pack.size(), "BG", &background));
  ASSERT_TRUE(PackedFrame(background, 0, &png, &pngLength));
  std::string frames = pack;  // the background's PNG data, its checksums now wrong
  for (size_t i = pngLength / 2; i < pngLength / 2 + 512; ++i) frames[(png - bytes) + i] ^= 0x5a;
  struct Case {
    const char* name;
    std::string bytes;
  };
  for (const Case& c : {Case{"cut", pack.substr(0, pack.size() / 2)}, Case{"frames", frames}}) {
    const std::vector<uint32_t> picture = EditorAt2x(c.name, Pack::Bytes, c.bytes);
    EXPECT_GT(DistinctColours(picture), 20) << c.name;
    EXPECT_FALSE(picture == drawn) << c.name;
    EXPECT_FALSE(picture == resampled) << c.name;
    EXPECT_LT(MeanDifference(picture, drawn), 12.0) << c.name;
  }
}

// ---------------------------------------------------------------- VST3 view contract

TEST(Vst3EditorView, AnswersOnlyForX11AndNeedsTheHostsRunLoop) {
  HostDisplay x;
  Vst3EditorPlug plug(Vst3Module());
  host::IPlugView* view = plug.View();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->isPlatformTypeSupported(host::kPlatformTypeX11EmbedWindowID), host::kResultTrue);
  EXPECT_EQ(view->isPlatformTypeSupported(host::kPlatformTypeHWND), host::kResultFalse);
  EXPECT_EQ(view->isPlatformTypeSupported(nullptr), host::kResultFalse);
  Window window = x.MakeHostWindow(0, 0, kWidth, kHeight);
  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window));
  // A type the editor cannot open in is refused, not pretended.
  EXPECT_EQ(view->attached(parent, host::kPlatformTypeHWND), host::kResultFalse);
  EXPECT_TRUE(x.Children(window).empty());

  // Without a run loop the editor could never run: refused, nothing left.
  plug.Frame().runLoop = nullptr;
  EXPECT_EQ(view->attached(parent, host::kPlatformTypeX11EmbedWindowID), host::kResultFalse);
  EXPECT_TRUE(x.Children(window).empty());

  // With one: a handler on the display connection and a 40 ms timer, both
  // called by the loop, both gone after removed(), every reference returned.
  plug.Frame().runLoop = &plug.Loop();
  ASSERT_EQ(view->attached(parent, host::kPlatformTypeX11EmbedWindowID), host::kResultOk);
  host::RunLoop& loop = plug.Loop();
  ASSERT_EQ(loop.handlers.size(), 1u);
  ASSERT_EQ(loop.timers.size(), 1u);
  EXPECT_GE(loop.handlers[0].fd, 0);
  EXPECT_EQ(loop.timers[0].ms, 40);
  x.MoveTo(window, kEmpty.x, kEmpty.y);
  x.MoveTo(window, kEmpty.x + 5, kEmpty.y);
  // Turns until both have been called (each turn fires every timer at least
  // once): a busy machine delays the events, it does not fail the test.
  for (int turn = 0; turn < 200 && (loop.fdCalls == 0 || loop.timerCalls < 3); ++turn) loop.Run(50);
  EXPECT_GT(loop.fdCalls, 0);
  EXPECT_GE(loop.timerCalls, 3);
  EXPECT_EQ(view->removed(), host::kResultOk);
  EXPECT_TRUE(loop.handlers.empty());
  EXPECT_TRUE(loop.timers.empty());
  EXPECT_EQ(loop.refs, 0);
  EXPECT_TRUE(x.Children(window).empty());
  x.Destroy(window);
}

TEST(Vst3EditorView, ResizesInItsAspectRatioAndKeepsTheChosenSizeWhenReopened) {
  HostDisplay x;
  Vst3EditorPlug plug(Vst3Module());
  host::IPlugView* view = plug.View();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->canResize(), host::kResultTrue);
  struct Case {
    int width, height, wantWidth, wantHeight;
  };
  // Inside the size offered, aspect kept (Ardour's 1349 x 529 had the
  // editor scaled to the height, its right side outside the window); never
  // below 75 %.
  for (const Case& c : {Case{1368, 430, 1368, 430}, Case{5000, 300, 953, 300},
                        Case{100, 100, 684, 215}, Case{1000, 574, 1000, 314},
                        Case{1349, 529, 1349, 424}, Case{700, 400, 700, 220}}) {
    host::ViewRect r(0, 0, c.width, c.height);
    EXPECT_EQ(view->checkSizeConstraint(&r), host::kResultTrue);
    EXPECT_EQ(r.getWidth(), c.wantWidth) << c.width << " x " << c.height;
    EXPECT_EQ(r.getHeight(), c.wantHeight) << c.width << " x " << c.height;
  }
  Window window = x.MakeHostWindow(0, 0, 1824, 574);
  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window));
  ASSERT_EQ(view->attached(parent, host::kPlatformTypeX11EmbedWindowID), host::kResultOk);
  // The host's own new size: the editor fills it and draws itself at 1.5x.
  host::ViewRect size(0, 0, 1368, 430);
  EXPECT_EQ(view->onSize(&size), host::kResultOk);
  plug.Pump(100);
  int w = 0, h = 0;
  EXPECT_TRUE(x.Capture(x.EditorOf(window), &w, &h) == ReferencePicture(1.5));
  EXPECT_EQ(w, 1368);
  EXPECT_EQ(h, 430);
  EXPECT_TRUE(plug.Frame().resizes.empty()) << "no resize echoed back to the host";
  // Reopened, it keeps that size; not part of the plug-in's state.
  EXPECT_EQ(view->removed(), host::kResultOk);
  ASSERT_EQ(view->attached(parent, host::kPlatformTypeX11EmbedWindowID), host::kResultOk);
  ASSERT_TRUE(x.Geometry(x.EditorOf(window), &w, &h));
  EXPECT_EQ(w, 1368);
  host::ViewRect reported;
  ASSERT_EQ(view->getSize(&reported), host::kResultOk);
  EXPECT_EQ(reported.getHeight(), 430);
  // A content scale from the host multiplies the chosen size; the editor
  // asks for its new size from its own tick, not from inside the host's
  // call, and the same scale again (as hosts send it on every opening)
  // changes nothing.
  host::IPlugViewContentScaleSupport* scaling = nullptr;
  ASSERT_EQ(view->queryInterface(host::IPlugViewContentScaleSupport_iid,
                                 reinterpret_cast<void**>(&scaling)),
            host::kResultOk);
  EXPECT_EQ(scaling->setContentScaleFactor(1.0f), host::kResultTrue);
  ASSERT_EQ(view->getSize(&reported), host::kResultOk);
  EXPECT_EQ(reported.getWidth(), 1368);
  EXPECT_EQ(scaling->setContentScaleFactor(2.0f), host::kResultTrue);
  scaling->release();
  EXPECT_TRUE(plug.Frame().resizes.empty());
  plug.Pump(100);
  ASSERT_EQ(plug.Frame().resizes.size(), 1u);
  EXPECT_EQ(plug.Frame().resizes.back().getWidth(), 2736);
  EXPECT_EQ(plug.Frame().resizes.back().getHeight(), 861);
  ASSERT_TRUE(x.Geometry(x.EditorOf(window), &w, &h));
  EXPECT_EQ(h, 861);
  view->removed();
  x.Destroy(window);
}

// Ardour's call sequence: its GTK socket sizes the editor's window to the
// socket's allocation, whatever the editor asks, then calls onSize with that
// size (never checkSizeConstraint) and getSize; a getSize smaller than the
// window made Ardour snap the window back, and the window's background, a
// picture smaller than the window, showed the editor's top again below it.
TEST(Vst3EditorView, KeepsTheWindowArdourGivesWithTheEditorInsideDownTo75Percent) {
  HostDisplay x;
  Vst3EditorPlug plug(Vst3Module());
  host::IPlugView* view = plug.View();
  ASSERT_NE(view, nullptr);
  Window window = x.MakeHostWindow(0, 0, 1400, 600);
  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window));
  ASSERT_EQ(view->attached(parent, host::kPlatformTypeX11EmbedWindowID), host::kResultOk);
  const Window editor = x.EditorOf(window);
  struct Case {
    int width, height, editorWidth, editorHeight, viewWidth, viewHeight;
  };
  for (const Case& c : {Case{1349, 495, 1349, 424, 1349, 495}, Case{800, 266, 800, 251, 800, 266},
                        Case{700, 216, 686, 216, 700, 216}, Case{600, 166, 684, 215, 684, 215}}) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    XResizeWindow(x.Get(), editor, static_cast<unsigned>(c.width), static_cast<unsigned>(c.height));
    XSync(x.Get(), False);
    host::ViewRect size(0, 0, c.width, c.height);
    EXPECT_EQ(view->onSize(&size), host::kResultOk);
    // The socket puts the window back to its allocation.
    XResizeWindow(x.Get(), editor, static_cast<unsigned>(std::max(c.width, c.viewWidth)),
                  static_cast<unsigned>(std::max(c.height, c.viewHeight)));
    XSync(x.Get(), False);
    plug.Pump(100);
    host::ViewRect reported;
    ASSERT_EQ(view->getSize(&reported), host::kResultOk);
    EXPECT_EQ(reported.getWidth(), c.viewWidth);
    EXPECT_EQ(reported.getHeight(), c.viewHeight);
    int w = 0, h = 0;
    const std::vector<uint32_t> shown = x.Capture(editor, &w, &h);
    ASSERT_EQ(w, c.viewWidth);
    ASSERT_EQ(h, c.viewHeight);
    // The whole editor at its top left, aspect kept; beyond it one colour.
    const double scale = std::max(0.75, std::min(c.width / 912.0, c.height / 287.0));
    ASSERT_EQ(ReferencePicture(scale).size(),
              static_cast<size_t>(c.editorWidth) * static_cast<size_t>(c.editorHeight));
    EXPECT_EQ(WrongPixels(shown, w, h, scale), 0) << "of " << w * h << " pixels";
  }
  view->removed();
  x.Destroy(window);
}

// Ardour's LV2 window (suil's X11 embedding): the host sizes the editor's
// window to its own allocation whenever its window changes, and after the
// editor's ui:resize it puts the window back to that allocation when it keeps
// its size. The editor stayed at 100 % in every window, cut off in a smaller
// one; it fits each size the host chooses and keeps the size chosen with its
// corner handle.
TEST(Lv2EditorWindow, FitsTheWindowArdourSizesAndKeepsTheSizeChosenWithTheHandle) {
  HostDisplay x;
  const Lv2UiModule lv2;
  ASSERT_NE(lv2.ui, nullptr);
  ASSERT_NE(lv2.idle, nullptr);
  Window window = x.MakeHostWindow(0, 0, 1400, 600);
  LV2_Feature parent = {LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(window))};
  int asked[2] = {0, 0};
  LV2UI_Resize resize = {asked, [](LV2UI_Feature_Handle handle, int width, int height) {
                           static_cast<int*>(handle)[0] = width;
                           static_cast<int*>(handle)[1] = height;
                           return 0;
                         }};
  LV2_Feature resizeFeature = {LV2_UI__resize, &resize};
  const LV2_Feature* features[] = {&parent, &resizeFeature, nullptr};
  LV2UI_Widget widget = nullptr;
  LV2UI_Handle handle = lv2.Instantiate(features, &widget);
  ASSERT_NE(handle, nullptr);
  const Window editor = static_cast<Window>(reinterpret_cast<uintptr_t>(widget));
  auto pump = [&](int ms) { PumpFor(ms, [&] { lv2.idle->idle(handle); }); };
  // The host sizes the window, at times twice before the editor runs. The
  // editor must never configure the window back to a size the host gave
  // before: in Ardour each such configure had suil lay out again, and the
  // window flipped between two sizes for good; here the two configures of
  // the editor would answer each other without end.
  XSelectInput(x.Get(), editor, StructureNotifyMask);
  auto allocate = [&](std::vector<std::pair<int, int>> sizes) {
    XEvent event;
    XSync(x.Get(), False);
    while (XCheckTypedWindowEvent(x.Get(), editor, ConfigureNotify, &event)) {
    }
    for (const auto& size : sizes)
      XResizeWindow(x.Get(), editor, static_cast<unsigned>(size.first), static_cast<unsigned>(size.second));
    XSync(x.Get(), False);
    pump(100);
    XSync(x.Get(), False);
    size_t configures = 0;
    while (XCheckTypedWindowEvent(x.Get(), editor, ConfigureNotify, &event)) ++configures;
    EXPECT_EQ(configures, sizes.size());
  };
  // The window's picture, and the size its hints give (what suil asks for
  // its socket): the window's after a fit, the editor's after the handle.
  auto check = [&](int width, int height, double scale, int hintsWidth, int hintsHeight) {
    int w = 0, h = 0;
    const std::vector<uint32_t> shown = x.Capture(editor, &w, &h);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    EXPECT_EQ(WrongPixels(shown, w, h, scale), 0) << "of " << w * h << " pixels";
    XSizeHints hints;
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x.Get(), editor, &hints, &supplied));
    EXPECT_EQ(hints.base_width, hintsWidth);
    EXPECT_EQ(hints.base_height, hintsHeight);
  };
  pump(100);
  struct Case {
    int width, height;
    double scale;
  };
  for (const Case& c : {Case{1349, 495, 1349 / 912.0}, Case{1000, 366, 1000 / 912.0},
                        Case{700, 216, 216 / 287.0}, Case{1349, 495, 1349 / 912.0}}) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    allocate({{800, 266}, {c.width, c.height}});
    check(c.width, c.height, c.scale, c.width, c.height);
  }
  // The corner handle dragged to 75 %; the host keeps its window.
  x.MoveTo(editor, 1346, 421);
  pump(40);
  x.Button(1, true);
  pump(40);
  for (int step = 1; step <= 4; ++step) {
    x.MoveTo(editor, 1346 - 700 * step / 4, 421 - 220 * step / 4);
    pump(30);
  }
  x.Button(1, false);
  x.MoveTo(editor, 1300, 480);
  pump(100);
  EXPECT_EQ(asked[0], 684);
  EXPECT_EQ(asked[1], 215);
  allocate({{1349, 495}});
  check(1349, 495, 0.75, 684, 215);
  lv2.ui->cleanup(handle);
  x.Destroy(window);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new VirtualDisplay);
  return RUN_ALL_TESTS();
}
