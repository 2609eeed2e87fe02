// What the user sees and does with knobs, switches and the meter.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "IControl.h"

namespace {

TEST(FilmstripFrames, ValueSelectsTheNearestFrameWithClampedEnds) {
  EXPECT_EQ(FrameForValue(61, 0.5), 31);
  EXPECT_EQ(FrameForValue(61, 0.0), 1);
  EXPECT_EQ(FrameForValue(61, 1.0 / 120 - 1e-9), 1);
  EXPECT_EQ(FrameForValue(61, 1.0 / 120), 2);
  EXPECT_EQ(FrameForValue(61, 119.0 / 120), 61);
  EXPECT_EQ(FrameForValue(61, 7.0), 61);
  EXPECT_EQ(FrameForValue(61, -3.0), 1);
  EXPECT_EQ(FrameForValue(4, 2.0 / 3), 3);
  EXPECT_EQ(FrameForValue(1, 0.9), 1);
}

TEST(FilmstripFrames, PaintedKnobAndMeterShowTheFrameOfTheirValue) {
  auto strip = NumberedStrip(6, 5, 61);
  IGraphicsOffscreen g(nullptr, 20, 20, 25);
  auto* knob = new IKnobMultiControl(nullptr, 2, 3, -1, RefTo(strip.get(), 61));
  auto* meter = new IBitmapControl(nullptr, 10, 3, -1, RefTo(strip.get(), 61));
  g.AddControl(knob);
  g.AddControl(meter);
  g.CreateBackBuffer();
  for (double v : {0.0, 0.5, 1.0, 1.5}) {
    knob->SetValue(v);
    meter->SetValue(v);
    g.RenderAll();
    int expected = v >= 1.0 ? 61 : (v == 0.5 ? 31 : 1);
    EXPECT_EQ(RedAt(g, 2, 3), expected) << v;
    EXPECT_EQ(RedAt(g, 7, 7), expected) << v;
    EXPECT_EQ(RedAt(g, 10, 3), expected) << v;
  }
}

TEST(Switches, TwoFrameSwitchTogglesAndThreeFrameSwitchStepsAndWraps) {
  PlugRig rig;
  ISwitchControl two(&rig.plug, 0, 0, kestrune::kSlam, GeometryOnly(10, 20, 2));
  two.SetValue(1.0);
  two.HandleMouseDown(1, 1, MouseMods());
  EXPECT_EQ(two.Value(), 0.0);
  two.HandleDoubleClick(1, 1, MouseMods());  // a double click is a second click
  EXPECT_EQ(two.Value(), 1.0);
  EXPECT_EQ(rig.plug.ParamAt(kestrune::kSlam)->value, 1.0);

  ISwitchControl three(nullptr, 0, 0, -1, GeometryOnly(10, 30, 3));
  double seen[4];
  for (double& v : seen) {
    three.HandleMouseDown(0, 0, MouseMods());
    v = three.Value();
  }
  EXPECT_DOUBLE_EQ(seen[0], 0.5);
  EXPECT_DOUBLE_EQ(seen[1], 1.0);
  EXPECT_DOUBLE_EQ(seen[2], 0.0);
  EXPECT_DOUBLE_EQ(seen[3], 0.5);
}

TEST(Knobs, VerticalDragFollowsGearingAndFineModifiers) {
  PlugRig rig;
  IKnobMultiControl knob(&rig.plug, 0, 0, kestrune::kInput, GeometryOnly(78, 83 * 61, 61),
                         KnobVertical, 4.0);
  knob.SetValue(0.5);
  knob.HandleMouseDrag(0, 0, 0, -10, MouseMods());
  EXPECT_NEAR(knob.Value(), 0.5 + 10.0 / 83 / 4, 1e-12);
  MouseMods shift;
  shift.shift = true;
  knob.SetValue(0.5);
  knob.HandleMouseDrag(0, 0, 0, -10, shift);
  EXPECT_NEAR(knob.Value(), 0.5 + 10.0 / 83 / 40, 1e-12);
  knob.HandleMouseDrag(0, 0, 0, 10000, MouseMods());
  EXPECT_EQ(knob.Value(), 0.0);  // clamped
  EXPECT_EQ(rig.plug.ParamAt(kestrune::kInput)->value, 0.0);
  knob.HandleMouseDrag(0, 0, 50, 0, MouseMods());  // sideways does nothing on a vertical knob
  EXPECT_EQ(knob.Value(), 0.0);
}

TEST(Knobs, WheelStepsCoarseAndFine) {
  IKnobMultiControl knob(nullptr, 0, 0, -1, GeometryOnly(10, 610, 61));
  knob.SetValue(0.5);
  knob.HandleWheel(0, 0, MouseMods(), 3);
  EXPECT_NEAR(knob.Value(), 0.53, 1e-12);
  MouseMods control;
  control.control = true;
  knob.HandleWheel(0, 0, control, -2);
  EXPECT_NEAR(knob.Value(), 0.528, 1e-12);
}

TEST(Knobs, DoubleClickRestoresTheFirstValueFromThePlugIn) {
  IKnobMultiControl knob(nullptr, 0, 0, -1, GeometryOnly(10, 610, 61));
  knob.SetValue(0.7);
  knob.HandleDoubleClick(0, 0, MouseMods());  // no default yet: nothing happens
  EXPECT_EQ(knob.Value(), 0.7);
  knob.ReceivePlugValue(0.25);
  knob.ReceivePlugValue(0.9);
  knob.HandleDoubleClick(0, 0, MouseMods());
  EXPECT_EQ(knob.Value(), 0.25);
}

TEST(Controls, ChangedValuesAreRedrawnOnTwoTicksThenRest) {
  IKnobMultiControl knob(nullptr, 0, 0, -1, GeometryOnly(10, 610, 61));
  knob.MarkClean();
  knob.ReceivePlugValue(0.1);  // first value: becomes the default, nothing to draw
  EXPECT_FALSE(knob.NeedsRedraw());
  knob.ReceivePlugValue(0.2);
  EXPECT_TRUE(knob.NeedsRedraw());
  knob.MarkClean();
  EXPECT_TRUE(knob.NeedsRedraw());
  knob.MarkClean();
  EXPECT_FALSE(knob.NeedsRedraw());
}

}  // namespace
