// The X11 editor window in-process, on a private Xvfb: the services that no
// control of the shipped layout reaches by default (the text-entry box and
// the popup menu, opened here by enabling a control's prompt), closing in
// the middle of them, the host destroying its window under an open menu, the
// horizontal wheel and a new editor size. Input is real (XTest); the editor
// is driven through its Idle entry as a VST2 host would.
#include <atomic>
#include <thread>

#include "GraphicsTestSupport.h"
#include "IGraphicsX11.h"
#include "KestruneIdentity.h"
#include "PlugParam.h"
#include "X11PopupMenu.h"
#include "XTestSupport.h"

using namespace xtest;
using kestrune::kInput;
using kestrune::kMix;
using kestrune::kOutput;
using kestrune::kRatio;

namespace {

class EditorWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(x_.Get(), nullptr) << "no connection to the display";
    editor_ = dynamic_cast<IGraphicsX11*>(rig_.plug.Editor());
    ASSERT_NE(editor_, nullptr);
    host_ = x_.MakeHostWindow(10, 10, editor_->Width(), editor_->Height());
    ASSERT_NE(editor_->OpenWindow(reinterpret_cast<void*>(static_cast<uintptr_t>(host_))),
              false);
    window_ = x_.EditorOf(host_);
    ASSERT_NE(window_, 0u);
    Pump(50);
  }
  void TearDown() override {
    if (editor_) editor_->CloseWindow();
    if (host_) x_.Destroy(host_);
  }

  void Pump(int ms) {
    PumpFor(ms, [this] { editor_->Idle(); });
  }
  IControl* ControlFor(int param) {
    for (int i = 0; i < editor_->ControlCount(); ++i)
      if (editor_->ControlAt(i)->ParamIndex() == param) return editor_->ControlAt(i);
    return nullptr;
  }
  // Right-clicks the centre of the control of `param`, its prompt enabled.
  void Prompt(int param) {
    IControl* c = ControlFor(param);
    ASSERT_NE(c, nullptr);
    c->SetPromptDisabled(false);
    const PixelRect r = editor_->ToPixels(c->Rect());
    x_.MoveTo(window_, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    x_.Button(3, true);
    x_.Button(3, false);
  }
  void Type(const char* keys) {
    for (const char* k = keys; *k; ++k) {
      const char name[2] = {*k, 0};
      KeySym sym = XStringToKeysym(name);
      if (*k == '.') sym = XK_period;
      if (*k == '-') sym = XK_minus;
      x_.Tap(sym);
    }
  }
  double Automated(int index) const {
    double v = -1.0;
    for (const auto& e : rig_.host.events)
      if (e.what == "automate" && e.index == index) v = e.value;
    return v;
  }
  double Normalized(int index, double plain) {
    return rig_.plug.ParamAt(index)->NormalizedFromPlain(plain);
  }

  PlugRig rig_;
  HostDisplay x_;
  IGraphicsX11* editor_ = nullptr;
  Window host_ = 0;
  Window window_ = 0;
};

// The top-level override-redirect window a menu shows in; 0 when none is
// mapped.
Window FindMenuWindow(HostDisplay& x) {
  for (Window w : x.Children(DefaultRootWindow(x.Get()))) {
    XWindowAttributes a;
    if (XGetWindowAttributes(x.Get(), w, &a) && a.override_redirect && a.map_state == IsViewable)
      return w;
  }
  return 0;
}

// Runs `act` on its own connection once a menu is up (the editor's thread is
// inside the menu's loop meanwhile), and records how the menu looked.
class MenuDriver {
 public:
  explicit MenuDriver(std::function<void(HostDisplay&, Window)> act)
      : thread_([this, act] {
          HostDisplay x;
          Window menu = 0;
          // Generous bounds: they only stop a hang, a slow machine gets there.
          for (int i = 0; i < 6000 && !menu; ++i) {
            SleepMs(5);
            menu = FindMenuWindow(x);
          }
          if (!menu) return;
          int colours = 0;
          for (int i = 0; i < 2000 && colours <= 3; ++i) {
            if (i) SleepMs(5);
            colours = DistinctColours(x.Capture(menu, &width_, &height_));
          }
          colours_ = colours;
          act(x, menu);
        }) {}
  ~MenuDriver() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  int Colours() const { return colours_; }
  int Height() const { return height_; }

 private:
  std::atomic<int> colours_{0};
  int width_ = 0, height_ = 0;
  std::thread thread_;
};

TEST_F(EditorWindow, EntryBoxTakesATypedValueOnEnter) {
  const std::vector<uint32_t> before = x_.Capture(window_);
  Prompt(kInput);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  // The box is drawn in the entry colours (white) where the knob was.
  const Rect box = {113, 81, 152, 96};
  const std::vector<uint32_t> shown = x_.Capture(window_);
  int white = 0;
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) white += shown[y * editor_->Width() + x] == 0xFFFFFF;
  EXPECT_GT(white, (box.right - box.left) * (box.bottom - box.top) / 3);

  // Typing replaces the selected text; a letter is swallowed.
  Type("45x.5");
  Pump(60);
  EXPECT_EQ(editor_->EntryText(), "45.5");
  x_.Tap(XK_BackSpace);
  Type("7");
  x_.Tap(XK_Return);
  Pump(150);
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_DOUBLE_EQ(Automated(kInput), Normalized(kInput, 45.7));
  EXPECT_EQ(rig_.CountEvents("begin", kInput), rig_.CountEvents("end", kInput));
  // The box is gone: the knob shows again (at its new value).
  const std::vector<uint32_t> after = x_.Capture(window_);
  EXPECT_GT(ChangedPixels(shown, after, editor_->Width(), box), 50);
  EXPECT_GT(ChangedPixels(before, after, editor_->Width(), {93, 47, 171, 130}), 0);
  EXPECT_TRUE(x_.PointerFree());
}

TEST_F(EditorWindow, EntryBoxCancelsOnEscapeAndWheelAndCommitsOnAClickOutside) {
  Prompt(kOutput);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  Type("7");
  x_.Tap(XK_Escape);
  Pump(120);
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_EQ(Automated(kOutput), -1.0);

  SleepMs(450);  // no double click with the last press
  Prompt(kOutput);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  Type("9");
  x_.Button(4, true);
  x_.Button(4, false);
  Pump(120);
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_EQ(Automated(kOutput), -1.0) << "the wheel cancels";

  SleepMs(450);
  Prompt(kOutput);
  Pump(150);
  ASSERT_TRUE(editor_->EntryOpen());
  Type("-12");
  x_.MoveTo(window_, 20, 20);
  x_.Button(1, true);
  x_.Button(1, false);
  Pump(150);
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_DOUBLE_EQ(Automated(kOutput), Normalized(kOutput, -12.0));
}

TEST_F(EditorWindow, IntegerEntrySwallowsThePoint) {
  Prompt(kRatio);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  Type("1.5");
  Pump(50);
  EXPECT_EQ(editor_->EntryText(), "15");
  x_.Tap(XK_KP_Enter);
  Pump(120);
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_DOUBLE_EQ(Automated(kRatio), 1.0) << "15 is clamped to the top of 0..3";
}

TEST_F(EditorWindow, ClosingWithTheEntryBoxOpenCommitsNothing) {
  Prompt(kInput);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  Type("33");
  Pump(30);
  editor_->CloseWindow();
  EXPECT_FALSE(editor_->EntryOpen());
  EXPECT_EQ(Automated(kInput), -1.0);
  EXPECT_TRUE(x_.Children(host_).empty());
  EXPECT_TRUE(x_.PointerFree());
  EXPECT_EQ(rig_.CountEvents("begin", kInput), rig_.CountEvents("end", kInput));
}

// RATIO with display texts, as a stepped parameter that prompts with a menu.
void GiveRatioTexts(PlugParam* ratio) {
  const char* texts[] = {"4:1", "8:1", "12:1", "20:1"};
  for (int i = 0; i < 4; ++i) ratio->AddValueText(i, texts[i]);
}

TEST_F(EditorWindow, PopupMenuChoosesWithKeysOrMouseAndEscapeDismisses) {
  GiveRatioTexts(rig_.plug.ParamAt(kRatio));
  {
    MenuDriver driver([](HostDisplay& x, Window) {
      x.Tap(XK_Down);
      x.Tap(XK_Down);
      x.Tap(XK_Return);
    });
    Prompt(kRatio);
    Pump(300);
    driver.Join();
    EXPECT_GT(driver.Colours(), 3) << "the menu is drawn";
    EXPECT_EQ(driver.Height(), 4 * X11PopupMenu::kItemHeight + 4);
  }
  EXPECT_DOUBLE_EQ(Automated(kRatio), Normalized(kRatio, 1.0));
  EXPECT_EQ(rig_.CountEvents("begin", kRatio), 1);
  EXPECT_EQ(rig_.CountEvents("end", kRatio), 1) << "the press that opened the menu ends";
  EXPECT_TRUE(x_.PointerFree());

  SleepMs(450);
  {
    MenuDriver driver([](HostDisplay& x, Window menu) {
      x.MoveTo(menu, 30, 2 + 3 * X11PopupMenu::kItemHeight + 10);
      SleepMs(30);
      x.Button(1, true);
      x.Button(1, false);
    });
    Prompt(kRatio);
    Pump(300);
  }
  EXPECT_DOUBLE_EQ(Automated(kRatio), Normalized(kRatio, 3.0));

  SleepMs(450);
  const size_t events = rig_.host.events.size();
  {
    MenuDriver driver([](HostDisplay& x, Window) { x.Tap(XK_Escape); });
    Prompt(kRatio);
    Pump(300);
  }
  EXPECT_DOUBLE_EQ(Automated(kRatio), Normalized(kRatio, 3.0));
  for (size_t i = events; i < rig_.host.events.size(); ++i)
    EXPECT_NE(rig_.host.events[i].what, "automate");
  EXPECT_TRUE(FindMenuWindow(x_) == 0);
}

TEST_F(EditorWindow, AtTwiceTheScaleMenuAndEntryBoxAreTwiceAsLargeAndTakeTheirInput) {
  ASSERT_TRUE(editor_->SetScale(2.0));
  XResizeWindow(x_.Get(), host_, 1824, 574);  // as the host asked would
  int w = 0, h = 0;
  ASSERT_TRUE(x_.Geometry(window_, &w, &h));
  EXPECT_EQ(w, 1824);
  GiveRatioTexts(rig_.plug.ParamAt(kRatio));
  {
    MenuDriver driver([](HostDisplay& x, Window menu) {
      x.MoveTo(menu, 60, 2 + 2 * (3 * X11PopupMenu::kItemHeight + 10));
      SleepMs(30);
      x.Button(1, true);
      x.Button(1, false);
    });
    Prompt(kRatio);
    Pump(300);
    driver.Join();
    EXPECT_EQ(driver.Height(), 2 * 4 * X11PopupMenu::kItemHeight + 4);
  }
  EXPECT_DOUBLE_EQ(Automated(kRatio), Normalized(kRatio, 3.0));
  SleepMs(450);
  Prompt(kInput);
  Pump(100);
  ASSERT_TRUE(editor_->EntryOpen());
  const Rect box = {2 * 113, 2 * 81, 2 * 152, 2 * 96};
  const std::vector<uint32_t> shown = x_.Capture(window_);
  int white = 0;
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) white += shown[y * editor_->Width() + x] == 0xFFFFFF;
  EXPECT_GT(white, (box.right - box.left) * (box.bottom - box.top) / 3);
  Type("45");
  x_.Tap(XK_Return);
  Pump(150);
  EXPECT_DOUBLE_EQ(Automated(kInput), Normalized(kInput, 45.0));
}

TEST_F(EditorWindow, HostDestroyingItsWindowUnderAnOpenMenuIsSurvived) {
  GiveRatioTexts(rig_.plug.ParamAt(kRatio));
  Window host = host_;
  {
    MenuDriver driver([host](HostDisplay& x, Window) { x.Destroy(host); });
    Prompt(kRatio);
    Pump(300);
  }
  host_ = 0;
  EXPECT_EQ(FindMenuWindow(x_), 0u);
  EXPECT_TRUE(x_.PointerFree());
  Pump(50);
  editor_->CloseWindow();
  // And it opens again.
  host_ = x_.MakeHostWindow(10, 10, editor_->Width(), editor_->Height());
  EXPECT_TRUE(editor_->OpenWindow(reinterpret_cast<void*>(static_cast<uintptr_t>(host_))));
}

TEST_F(EditorWindow, HorizontalWheelStepsLikeTheVerticalOne) {
  IControl* mix = ControlFor(kMix);
  const PixelRect& r = mix->Rect();
  x_.MoveTo(window_, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  x_.Button(6, true);  // left
  x_.Button(6, false);
  Pump(80);
  EXPECT_NEAR(Automated(kMix), 0.99, 1e-9);
  x_.Button(7, true);  // right
  x_.Button(7, false);
  Pump(80);
  EXPECT_NEAR(Automated(kMix), 1.0, 1e-9);
}

TEST_F(EditorWindow, NewEditorSizeResizesTheWindow) {
  editor_->SetEditorSize(500, 200);
  int w = 0, h = 0;
  ASSERT_TRUE(x_.Geometry(window_, &w, &h));
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 200);
  // Hosts that follow an embedded window read its size from its hints.
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(x_.Get(), window_, &hints, &supplied));
  EXPECT_TRUE(hints.flags & PBaseSize);
  EXPECT_EQ(hints.base_width, 500);
  EXPECT_EQ(hints.base_height, 200);
  Pump(80);
  x_.Capture(window_, &w, &h);
  EXPECT_EQ(w, 500);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new VirtualDisplay);
  return RUN_ALL_TESTS();
}
