// The graphics core: repainting, input routing, gestures with the host, the
// shared image cache and parameter values travelling both ways.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "IControl.h"
#include "KestruneEditor.h"

namespace {

// Counts what the core asks of it.
class Probe : public IControl {
 public:
  Probe(IEffectBase* plug, const PixelRect& r, int param = -1) : IControl(plug, r, param) {}
  bool Paint(IGraphics*) override { ++paints; return true; }
  void HandleMouseDown(int, int, const MouseMods&) override { ++downs; }
  void HandleMouseUp(int, int, const MouseMods&) override { ++ups; }
  bool HandleKey(int, int, int key) override { lastKey = key; return true; }
  int paints = 0, downs = 0, ups = 0, lastKey = -1;
};

TEST(Repaint, ControlEndingExactlyAtTheAreaEdgeIsRepaintedToo) {
  IGraphicsOffscreen g(nullptr, 40, 40, 25);
  auto* left = new Probe(nullptr, PixelRect(0, 0, 10, 10));
  auto* above = new Probe(nullptr, PixelRect(10, 0, 20, 10));
  auto* apart = new Probe(nullptr, PixelRect(21, 21, 30, 30));
  auto* hidden = new Probe(nullptr, PixelRect(10, 10, 20, 20));
  for (Probe* p : {left, above, apart, hidden}) g.AddControl(p);
  hidden->SetHidden(true);
  g.CreateBackBuffer();
  g.DrawRegion(PixelRect(10, 10, 20, 20));
  EXPECT_EQ(left->paints, 1);
  EXPECT_EQ(above->paints, 1);
  EXPECT_EQ(apart->paints, 0);
  EXPECT_EQ(hidden->paints, 0);
}

TEST(Repaint, DirtyAreaIsTheUnionOfChangedControls) {
  IGraphicsOffscreen g(nullptr, 40, 40, 25);
  auto* a = new Probe(nullptr, PixelRect(2, 3, 10, 10));
  auto* b = new Probe(nullptr, PixelRect(20, 1, 30, 5));
  g.AddControl(a);
  g.AddControl(b);
  g.CreateBackBuffer();
  PixelRect dirty;
  EXPECT_TRUE(g.CollectDirtyRect(&dirty));
  EXPECT_EQ(dirty, PixelRect(2, 1, 30, 10));
  g.DrawRegion(dirty);
  EXPECT_FALSE(g.CollectDirtyRect(&dirty));
  b->ReceivePlugValue(0.3);  // default only
  b->ReceivePlugValue(0.4);
  EXPECT_TRUE(g.CollectDirtyRect(&dirty));
  EXPECT_EQ(dirty, PixelRect(20, 1, 30, 5));
}

TEST(MouseRouting, TheLastAddedVisibleEnabledControlWins) {
  IGraphicsOffscreen g(nullptr, 40, 40, 25);
  auto* under = new Probe(nullptr, PixelRect(0, 0, 20, 20));
  auto* over = new Probe(nullptr, PixelRect(5, 5, 15, 15));
  g.AddControl(under);
  g.AddControl(over);
  g.HandleMouseDown(6, 6, MouseMods());
  EXPECT_EQ(over->downs, 1);
  EXPECT_EQ(under->downs, 0);
  g.HandleMouseDown(15, 15, MouseMods());  // right and bottom edges are outside
  EXPECT_EQ(under->downs, 1);
  over->SetGrayed(true);
  g.HandleMouseDown(6, 6, MouseMods());
  EXPECT_EQ(under->downs, 2);
  over->SetGrayed(false);
  over->SetHidden(true);
  g.HandleMouseDown(6, 6, MouseMods());
  EXPECT_EQ(under->downs, 3);
}

TEST(MouseRouting, KeysGoToTheControlUnderThePointerElseTheKeyCatcher) {
  IGraphicsOffscreen g(nullptr, 40, 40, 25);
  auto* background = new Probe(nullptr, PixelRect(0, 0, 40, 40));
  auto* button = new Probe(nullptr, PixelRect(5, 5, 15, 15));
  g.AddControl(background);
  g.AddControl(button);
  EXPECT_FALSE(g.HandleKey(30, 30, KeySpace));  // only the background, no catcher
  auto* catcher = new Probe(nullptr, PixelRect());
  g.SetKeyCatcher(catcher);
  EXPECT_TRUE(g.HandleKey(30, 30, KeyA));
  EXPECT_EQ(catcher->lastKey, KeyA);
  EXPECT_TRUE(g.HandleKey(6, 6, KeyUp));
  EXPECT_EQ(button->lastKey, KeyUp);
  EXPECT_EQ(background->lastKey, -1);
}

TEST(Gestures, DragOnAKnobIsOneGestureWithAutomationInBetween) {
  PlugRig rig;
  IGraphics& g = rig.Editor();
  g.HandleMouseDown(130, 90, MouseMods());  // INPUT knob
  g.HandleMouseDrag(130, 80, MouseMods());
  g.HandleMouseDrag(130, 80, MouseMods());  // no movement, no change
  g.HandleMouseUp(260, 90, MouseMods());    // released over OUTPUT
  ASSERT_GE(rig.host.events.size(), 3u);
  EXPECT_EQ(rig.host.events.front().what, "begin");
  EXPECT_EQ(rig.host.events.front().index, kestrune::kInput);
  EXPECT_EQ(rig.CountEvents("automate", kestrune::kInput), 1);
  EXPECT_EQ(rig.host.events.back().what, "end");
  EXPECT_EQ(rig.host.events.back().index, kestrune::kInput);
  EXPECT_EQ(rig.CountEvents("end", kestrune::kOutput), 0);
  EXPECT_NEAR(rig.plug.ParamAt(kestrune::kInput)->value, 80.0 * 10 / 83 / 4, 0.01);
}

TEST(Gestures, ReleaseOverAnUnpressedControlStillEndsItsGesture) {
  PlugRig rig;
  rig.Editor().HandleMouseUp(260, 90, MouseMods());
  EXPECT_EQ(rig.CountEvents("end", kestrune::kOutput), 1);
  EXPECT_EQ(rig.CountEvents("begin", kestrune::kOutput), 0);
}

class Vst3Kestrune : public Kestrune {
 public:
  using Kestrune::Kestrune;
  int PluginApi() const override { return kApiVst3; }
  void ShowHostParamMenu(int index, int x, int y) override {
    menuParam = index;
    menuX = x;
    menuY = y;
  }
  int menuParam = -1, menuX = 0, menuY = 0;
};

TEST(Gestures, RightClickUnderVst3OpensTheHostMenuInsteadOfTheControl) {
  TestHost host;
  Vst3Kestrune plug(&host);
  auto* g = dynamic_cast<IGraphics*>(plug.Editor());
  ASSERT_NE(g, nullptr);
  double before = g->ControlAt(kestrune::kControlSlam)->Value();
  MouseMods right;
  right.right = true;
  g->HandleMouseDown(800, 40, right);
  EXPECT_EQ(plug.menuParam, kestrune::kSlam);
  EXPECT_EQ(plug.menuX, 800);
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(g->ControlAt(kestrune::kControlSlam)->Value(), before);
  EXPECT_EQ(g->MouseCaptureIndex(), -1);

  PlugRig vst2;  // the same click under VST2 steps the switch
  vst2.Editor().HandleMouseDown(800, 40, right);
  EXPECT_EQ(vst2.plug.ParamAt(kestrune::kSlam)->value, 1.0);
}

TEST(ImageCache, EditorsOfTwoInstancesShareOneDecodedBitmap) {
  PlugRig a, b;
  auto* bgA = dynamic_cast<IBitmapControl*>(a.Editor().ControlAt(kestrune::kControlBackground));
  auto* bgB = dynamic_cast<IBitmapControl*>(b.Editor().ControlAt(kestrune::kControlBackground));
  ASSERT_TRUE(bgA && bgB);
  ASSERT_NE(bgA->Image().bitmap, nullptr);
  EXPECT_EQ(bgA->Image().bitmap, bgB->Image().bitmap);
  BitmapRef again = a.Editor().LoadImage(105, "some/other/name.png", 1);
  EXPECT_EQ(again.bitmap, bgA->Image().bitmap);  // keyed by number only
}

TEST(ImageCache, MissingImagesLeaveControlsThatDrawNothing) {
  IGraphicsOffscreen g(nullptr, 30, 30, 25);
  EXPECT_EQ(g.LoadImageResource(105, "resources/img/BG.bmp"), nullptr);
  EXPECT_EQ(g.LoadImageResource(105, "no-extension"), nullptr);
  BitmapRef missing = g.LoadImage(4242, "resources/img/NONE.png", 61);
  EXPECT_EQ(missing.bitmap, nullptr);
  auto* knob = new IKnobMultiControl(nullptr, 0, 0, -1, missing);
  g.AddControl(knob);
  g.RenderAll();
  g.HandleMouseDown(0, 0, MouseMods());
  g.HandleMouseDrag(0, -20, MouseMods());
  g.HandleWheel(0, 0, MouseMods(), 1);
  EXPECT_EQ(g.BackBuffer()->Row(0)[0], 0u);
}

TEST(ParameterValues, HostChangesReachControlsAndUserChangesReachTheHost) {
  PlugRig rig;
  IGraphics& g = rig.Editor();
  // Plain value from the host (state restore path): HPF 260 Hz is halfway.
  // Values may come from any thread: the controls take them on the editor's tick.
  g.ShowParameterValue(kestrune::kHpf, 260.0, false);
  g.ShowParameterValue(kestrune::kMix, 0.25, true);
  g.ShowParameterValue(99, 0.25, false);  // unknown parameter: ignored
  EXPECT_NE(g.ControlAt(kestrune::kControlMix)->Value(), 0.25) << "a control changed off its thread";
  g.ShowPendingValues();
  EXPECT_NEAR(g.ControlAt(kestrune::kControlHpf)->Value(), 0.5, 1e-12);
  EXPECT_EQ(g.ControlAt(kestrune::kControlMix)->Value(), 0.25);

  // A click on the oversampling switch: parameter 12 goes to 1 and the host hears it.
  g.HandleMouseDown(20, 270, MouseMods());
  g.HandleMouseUp(20, 270, MouseMods());
  EXPECT_EQ(rig.plug.ParamAt(kestrune::kOversampling)->value, 1.0);
  EXPECT_EQ(rig.CountEvents("begin", kestrune::kOversampling), 1);
  EXPECT_EQ(rig.CountEvents("automate", kestrune::kOversampling), 1);
  EXPECT_EQ(rig.CountEvents("end", kestrune::kOversampling), 1);

  // The sidechain switch starts on internal (1) and a click makes it external.
  EXPECT_EQ(g.ControlAt(kestrune::kControlSidechain)->Value(), 1.0);
  g.HandleMouseDown(850, 270, MouseMods());
  EXPECT_EQ(rig.plug.ParamAt(kestrune::kSidechain)->value, 0.0);

  // The meter control takes direct values.
  g.SetControlValue(rig.plug.meterControlIndex, 0.5);
  EXPECT_EQ(g.ControlAt(rig.plug.meterControlIndex)->Value(), 0.5);
  g.SetControlValue(-1, 0.5);
  g.SetControlValue(1000, 0.5);
}

TEST(EditorSize, ResizingDropsControlsAndRebuildsTheBackBuffer) {
  IGraphicsOffscreen g(nullptr, 30, 30, 25);
  g.AddControl(new Probe(nullptr, PixelRect(0, 0, 10, 10)));
  g.CreateBackBuffer();
  g.HandleMouseDown(1, 1, MouseMods());
  g.SetEditorSize(50, 20);
  EXPECT_EQ(g.ControlCount(), 0);
  EXPECT_EQ(g.MouseCaptureIndex(), -1);
  ASSERT_NE(g.BackBuffer(), nullptr);
  EXPECT_EQ(g.BackBuffer()->Width(), 50);
  EXPECT_EQ(g.BackBuffer()->Height(), 20);
  g.HandleMouseDrag(5, 5, MouseMods());  // nothing captured any more
}

}  // namespace
