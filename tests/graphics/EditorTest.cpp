// The Kestrune editor as the user sees it: its layout, and a rendered editor
// whose pixels show the frames that the parameter values select.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "IControl.h"
#include "ImagePacks.h"
#include "PngCodec.h"
#include "KestruneEditor.h"

namespace {

// Share of the frame's opaque pixels that the back buffer shows unchanged.
double FrameMatch(IGraphics& g, int controlIndex, int frame) {
  IControl* c = g.ControlAt(controlIndex);
  BitmapRef image;
  if (auto* b = dynamic_cast<IBitmapControl*>(c)) image = b->Image();
  if (auto* k = dynamic_cast<IKnobMultiControl*>(c)) image = k->Image();
  if (!image.bitmap) return -1;
  const PixelRect& r = c->Rect();
  int frameHeight = image.FrameHeight();
  int opaque = 0, same = 0;
  for (int y = 0; y < frameHeight && r.top + y < g.Height(); ++y)
    for (int x = 0; x < image.FrameWidth(); ++x) {
      uint32_t src = image.bitmap->Row((frame - 1) * frameHeight + y)[x];
      if ((src >> 24) != 255) continue;
      ++opaque;
      if (g.BackBuffer()->Row(r.top + y)[r.left + x] == src) ++same;
    }
  return opaque ? static_cast<double>(same) / opaque : -1;
}

TEST(EditorLayout, SeventeenControlsInPaintOrderWithTheirBindings) {
  PlugRig rig;
  IGraphics& g = rig.Editor();
  ASSERT_EQ(g.ControlCount(), 17);
  EXPECT_EQ(g.Width(), 912);
  EXPECT_EQ(g.Height(), 287);
  EXPECT_EQ(rig.plug.meterControlIndex, 15);
  struct Expect {
    int index, param, left, top, right, bottom;
  };
  const Expect table[] = {
      {0, -1, 0, 0, 912, 287},     {1, 10, 777, 91, 843, 159},  {2, 11, 777, 13, 843, 81},
      {3, 0, 93, 47, 171, 130},    {4, 1, 223, 47, 304, 130},   {5, 2, 367, 20, 426, 79},
      {6, 3, 367, 94, 426, 148},   {7, 4, 479, 37, 577, 132},   {8, 5, 122, 174, 190, 242},
      {9, 6, 641, 174, 717, 242},  {10, 9, 447, 174, 515, 242}, {11, 7, 337, 174, 405, 242},
      {12, 8, 232, 174, 298, 242}, {13, 12, 0, 260, 150, 285},  {14, 13, 812, 258, 912, 288},
      {15, -1, 592, 13, 766, 108}, {16, -1, 0, 210, 100, 230}};
  for (const Expect& e : table) {
    IControl* c = g.ControlAt(e.index);
    EXPECT_EQ(c->ParamIndex(), e.param) << e.index;
    EXPECT_EQ(c->Rect(), PixelRect(e.left, e.top, e.right, e.bottom)) << e.index;
  }
  // Apart from the background no two controls overlap, so a click reaches one.
  for (int i = 1; i < 17; ++i)
    for (int j = i + 1; j < 17; ++j) {
      const PixelRect& a = g.ControlAt(i)->Rect();
      const PixelRect& b = g.ControlAt(j)->Rect();
      bool disjoint = a.right <= b.left || b.right <= a.left || a.bottom <= b.top ||
                      b.bottom <= a.top;
      EXPECT_TRUE(disjoint) << i << " " << j;
    }
  EXPECT_EQ(dynamic_cast<IKnobMultiControl*>(g.ControlAt(7))->Image().frameCount, 4);
}

TEST(EditorSnapshot, DefaultEditorShowsTheFramesOfTheDefaultValues) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.RenderAll();
  EXPECT_EQ(FrameMatch(g, kestrune::kControlInput, 1), 1.0);     // INPUT 0 dB
  EXPECT_LT(FrameMatch(g, kestrune::kControlInput, 8), 0.99);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlOutput, 31), 1.0);   // OUTPUT 0 of -30..30
  EXPECT_EQ(FrameMatch(g, kestrune::kControlMix, 61), 1.0);      // MIX 100 %
  EXPECT_EQ(FrameMatch(g, kestrune::kControlRatio, 1), 1.0);     // ratio 4
  EXPECT_LT(FrameMatch(g, kestrune::kControlRatio, 2), 0.99);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlSidechain, 2), 1.0); // internal sidechain
  EXPECT_LT(FrameMatch(g, kestrune::kControlSidechain, 1), 0.9);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlOversampling, 1), 1.0);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlSlam, 1), 1.0);
  EXPECT_LT(FrameMatch(g, kestrune::kControlSlam, 2), 0.9);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlMeter, 1), 1.0);
  // The background shows through around the knobs.
  auto* bg = dynamic_cast<IBitmapControl*>(g.ControlAt(0));
  EXPECT_EQ(g.BackBuffer()->Row(5)[450], bg->Image().bitmap->Row(5)[450] | 0);
}

TEST(EditorSnapshot, MeterFollowsTheReadingsPostedByTheEffect) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  ASSERT_NE(rig.plug.ReadingFeed(), nullptr);
  rig.plug.ReadingFeed()->Post(0.5);
  g.RenderAll();
  EXPECT_EQ(FrameMatch(g, kestrune::kControlMeter, 31), 1.0);
  EXPECT_LT(FrameMatch(g, kestrune::kControlMeter, 1), 0.99);
  rig.plug.ReadingFeed()->Post(1.3);
  PixelRect dirty;
  ASSERT_TRUE(g.CollectDirtyRect(&dirty));
  EXPECT_EQ(dirty, PixelRect(592, 13, 766, 108));
  EXPECT_TRUE(g.RenderDirty());
  EXPECT_EQ(FrameMatch(g, kestrune::kControlMeter, 61), 1.0);
}

TEST(EditorSnapshot, VersionLineIsDrawnInLegibleWhiteText) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.RenderAll();
  auto* bg = dynamic_cast<IBitmapControl*>(g.ControlAt(0));
  int white = 0, whiteBefore = 0, minX = 100, maxX = 0;
  for (int y = 210; y < 230; ++y)
    for (int x = 0; x < 100; ++x) {
      auto bright = [](uint32_t p) {
        return ((p >> 16) & 255) > 200 && ((p >> 8) & 255) > 200 && (p & 255) > 200;
      };
      if (bright(g.BackBuffer()->Row(y)[x])) {
        ++white;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
      }
      if (bright(bg->Image().bitmap->Row(y)[x])) ++whiteBefore;
    }
  EXPECT_EQ(whiteBefore, 0);
  EXPECT_GT(white, 80);
  EXPECT_NEAR((minX + maxX) / 2.0, 50, 3);  // centred in its rectangle
}

TEST(EditorSnapshot, ChangedSettingsRepaintOnlyTheirControls) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.RenderAll();
  g.RenderDirty();
  EXPECT_FALSE(g.RenderDirty());
  g.ShowParameterValue(kestrune::kSlam, 1.0, false);
  g.ShowParameterValue(kestrune::kRatio, 3.0, false);
  PixelRect dirty;
  ASSERT_TRUE(g.CollectDirtyRect(&dirty));
  EXPECT_EQ(dirty, PixelRect(479, 13, 843, 132));
  g.RenderDirty();
  EXPECT_EQ(FrameMatch(g, kestrune::kControlSlam, 2), 1.0);
  EXPECT_EQ(FrameMatch(g, kestrune::kControlRatio, 4), 1.0);
  ASSERT_TRUE(g.WriteSnapshot(::testing::TempDir().append("/kestrune-editor.png").c_str()));
}

// ---------------------------------------------------------------- at other scales

// A rendered editor at `scale` with INPUT and SLAM changed; `whole` redraws
// everything after the change, else only what changed.
std::vector<uint32_t> ChangedEditorAt(double scale, bool whole) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.SetScale(scale);
  g.RenderAll();
  g.RenderDirty();
  g.ShowParameterValue(kestrune::kInput, 0.37, true);
  g.ShowParameterValue(kestrune::kSlam, 1.0, true);
  if (whole)
    g.RenderAll();
  else
    g.RenderDirty();
  PIX_IBitmap* b = g.BackBuffer();
  std::vector<uint32_t> pixels;
  for (int y = 0; y < b->Height(); ++y) pixels.insert(pixels.end(), b->Row(y), b->Row(y) + b->Width());
  return pixels;
}

TEST(EditorAtScale, SizesFollowTheScaleAndRepaintsOfChangesLeaveNoStaleEdges) {
  PlugRig rig;
  IGraphics& g = rig.Editor();
  EXPECT_TRUE(g.SetScale(1.5));
  EXPECT_EQ(g.Width(), 1368);
  EXPECT_EQ(g.Height(), 430);
  EXPECT_FALSE(g.SetScale(1.5));
  g.SetScale(10);
  EXPECT_EQ(g.Scale(), 3.0);
  // Controls at fractional pixel positions: the dirty area covers every
  // pixel their scaled frames touch.
  for (double scale : {1.5, 2.0, 0.75})
    EXPECT_TRUE(ChangedEditorAt(scale, false) == ChangedEditorAt(scale, true)) << scale;
}

TEST(EditorAtScale, TwiceTheSizeShowsTheTwoTimesFramesExactlyFromPacksThatCheckTheirBounds) {
  const unsigned char* pack = nullptr;
  size_t length = 0;
  ASSERT_TRUE(FindImagePack(2, &pack, &length)) << "this build has no 2x images";
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.SetScale(2.0);
  g.ShowParameterValue(kestrune::kRatio, 2.0, false);  // frame 3 of 4
  g.RenderAll();
  PackedImage ratio;
  ASSERT_TRUE(FindPackedImage(pack, length, "RAT", &ratio));
  const unsigned char* png = nullptr;
  size_t pngLength = 0;
  ASSERT_TRUE(PackedFrame(ratio, 2, &png, &pngLength));
  std::unique_ptr<PIX_MemBitmap> frame(LoadPngFromMemory(png, pngLength));
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->Width(), 2 * 98);
  int opaque = 0, same = 0;
  for (int y = 0; y < frame->Height(); ++y)
    for (int x = 0; x < frame->Width(); ++x) {
      if ((frame->Row(y)[x] >> 24) != 255) continue;
      ++opaque;
      same += g.BackBuffer()->Row(2 * 37 + y)[2 * 479 + x] == frame->Row(y)[x];
    }
  EXPECT_GT(opaque, 1000);
  EXPECT_EQ(same, opaque);
  // Every image of the editor is in both packs with its layout's frames (a
  // mismatch would quietly fall back to blurred 1x images); a cut pack gives
  // nothing past the cut.
  const char* names[] = {"BG",  "BY", "SLAM", "IN",   "OUT",  "ATK", "REL", "RAT",
                         "HPF", "MIX", "HF",  "MIDF", "MIDG", "OVER", "SC", "VU"};
  for (int scale : {2, 3}) {
    ASSERT_TRUE(FindImagePack(scale, &pack, &length));
    for (int i = 0; i <= kestrune::kControlMeter; ++i) {
      BitmapRef image;
      if (auto* b = dynamic_cast<IBitmapControl*>(g.ControlAt(i))) image = b->Image();
      if (auto* k = dynamic_cast<IKnobMultiControl*>(g.ControlAt(i))) image = k->Image();
      PackedImage packed;
      ASSERT_TRUE(FindPackedImage(pack, length, names[i], &packed)) << names[i];
      EXPECT_EQ(packed.frameCount, image.frameCount) << names[i];
      EXPECT_EQ(packed.frameWidth, image.FrameWidth() * scale) << names[i];
      EXPECT_EQ(packed.frameHeight, image.FrameHeight() * scale) << names[i];
    }
  }
  PackedImage meter;
  ASSERT_TRUE(FindPackedImage(pack, length, "VU", &meter));
  EXPECT_EQ(meter.frameCount, 61);
  EXPECT_EQ(meter.frameWidth, 3 * 174);
  ASSERT_TRUE(PackedFrame(meter, 60, &png, &pngLength));
  const size_t cut = static_cast<size_t>(png - pack) + pngLength / 2;
  PackedImage cutMeter;
  if (FindPackedImage(pack, cut, "VU", &cutMeter)) {
    EXPECT_FALSE(PackedFrame(cutMeter, 60, &png, &pngLength));
  }
  EXPECT_FALSE(FindPackedImage(pack, 40, "VU", &cutMeter));
  EXPECT_FALSE(FindPackedImage(pack, length, "NOPE", &cutMeter));
}

TEST(EditorAtScale, ClickAndDragChangeTheSameAtEveryScale) {
  for (double scale : {1.0, 1.5, 2.0}) {
    PlugRig rig;
    IGraphics& g = rig.Editor();
    g.SetScale(scale);
    auto px = [&](int design) { return static_cast<int>(design * scale); };
    // INPUT dragged 10 design units up, in pixel steps.
    g.HandleMouseDown(px(132), px(88), MouseMods());
    for (int dy = 1; dy <= px(10); ++dy) g.HandleMouseDrag(px(132), px(88) - dy, MouseMods());
    g.HandleMouseUp(px(132), px(78), MouseMods());
    EXPECT_NEAR(rig.plug.ParamAt(kestrune::kInput)->value, 80.0 * 10 / 83 / 4, 1e-9) << scale;
    // BYPASS's switch near its far corner, which only the scaled hit test finds.
    g.HandleMouseDown(px(840), px(156), MouseMods());
    g.HandleMouseUp(px(840), px(156), MouseMods());
    EXPECT_EQ(rig.plug.ParamAt(kestrune::kBypass)->value, 1.0) << scale;
  }
}

TEST(EditorAtScale, CornerHandleShowsOnHoverAndResizesWithoutTouchingTheControlBeneath) {
  PlugRig rig;
  IGraphicsOffscreen& g = rig.Editor();
  g.RenderAll();
  const std::vector<uint32_t> plain = ChangedEditorAt(1.0, true);
  auto picture = [&] {
    PIX_IBitmap* b = g.BackBuffer();
    std::vector<uint32_t> pixels;
    for (int y = 0; y < b->Height(); ++y) pixels.insert(pixels.end(), b->Row(y), b->Row(y) + b->Width());
    return pixels;
  };
  g.ShowParameterValue(kestrune::kInput, 0.37, true);
  g.ShowParameterValue(kestrune::kSlam, 1.0, true);
  g.RenderDirty();
  g.HandleMouseOver(908, 283, MouseMods());
  ASSERT_TRUE(g.RenderDirty());
  EXPECT_TRUE(picture() != plain) << "no grip shown";
  MouseMods left;
  left.left = true;
  g.HandleMouseDown(908, 283, left);
  g.HandleMouseDrag(908 + 456, 283 + 143, left);
  g.HandleMouseUp(908 + 456, 283 + 143, left);
  EXPECT_EQ(g.Width(), 1368);
  EXPECT_EQ(g.Height(), 430);
  EXPECT_EQ(rig.plug.ParamAt(kestrune::kSidechain)->value, 1.0) << "SIDECHAIN toggled";
  // Back to 1x through the handle at its new place; gone with the pointer.
  g.HandleMouseDown(1364, 426, left);
  g.HandleMouseDrag(1364 - 456, 426 - 143, left);
  g.HandleMouseUp(1364 - 456, 426 - 143, left);
  EXPECT_EQ(g.Width(), 912);
  g.HandleMouseLeave();
  g.RenderAll();
  EXPECT_TRUE(picture() == plain) << "the grip or a resize left a mark";
}

}  // namespace
