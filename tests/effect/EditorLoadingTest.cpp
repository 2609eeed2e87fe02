// Creating a plug-in instance (as a host scanning plug-ins does) decodes no
// editor image and creates no font; the first drawing of an editor does,
// once for the whole process, with the same pixels as decoding at once.
#include <gtest/gtest.h>

#include <memory>

#include "IControl.h"
#include "IGraphicsOffscreen.h"
#include "Kestrune.h"
#include "TestBinding.h"

namespace {

BitmapRef ImageOf(IControl* c) {
  if (auto* b = dynamic_cast<IBitmapControl*>(c)) return b->Image();
  if (auto* k = dynamic_cast<IKnobMultiControl*>(c)) return k->Image();
  return BitmapRef();
}

IGraphicsOffscreen* EditorOf(Kestrune& plug) {
  return dynamic_cast<IGraphicsOffscreen*>(plug.Editor());
}

TEST(EditorLoading, InstancesDecodeNothingUntilAnEditorIsDrawnThenShareOneDecoding) {
  const int imagesBefore = IGraphics::DecodedImageCount();
  const int fontsBefore = IGraphics::CachedFontCount();
  TestHost host;
  auto first = std::make_unique<Kestrune>(&host);
  auto second = std::make_unique<Kestrune>(&host);
  ASSERT_NE(EditorOf(*first), nullptr);
  EXPECT_EQ(IGraphics::DecodedImageCount(), imagesBefore);
  EXPECT_EQ(IGraphics::CachedFontCount(), fontsBefore);

  // The layout already has every control's size, from the image headers.
  IGraphics& g = *EditorOf(*first);
  ASSERT_EQ(g.ControlCount(), 17);
  EXPECT_EQ(g.ControlAt(0)->Rect(), PixelRect(0, 0, 912, 287));
  EXPECT_EQ(g.ControlAt(15)->Rect(), PixelRect(592, 13, 592 + 174, 13 + 95));

  EditorOf(*first)->RenderAll();
  EXPECT_EQ(IGraphics::DecodedImageCount(), 16);
  EXPECT_GE(IGraphics::CachedFontCount(), 1);

  // A second editor uses the same decoded images: nothing more is decoded.
  const int fonts = IGraphics::CachedFontCount();
  EditorOf(*second)->RenderAll();
  EXPECT_EQ(IGraphics::DecodedImageCount(), 16);
  EXPECT_EQ(IGraphics::CachedFontCount(), fonts);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(ImageOf(g.ControlAt(i)).bitmap, ImageOf(EditorOf(*second)->ControlAt(i)).bitmap)
        << "control " << i;
  EXPECT_EQ(*EditorOf(*first)->BackBuffer()->Row(150), *EditorOf(*second)->BackBuffer()->Row(150));
}

TEST(EditorLoading, CachedImagesHaveTheSizeAndPixelsOfADirectDecoding) {
  TestHost host;
  Kestrune plug(&host);
  IGraphics& g = *EditorOf(plug);
  for (int id = 104; id <= 119; ++id) {
    // The editor's reference to the shared image: its size comes from the
    // header until something reads its pixels.
    const BitmapRef cached = g.LoadImage(id, "resources/img/X.png", 1);
    std::unique_ptr<PIX_IBitmap> direct(g.LoadImageResource(id, "resources/img/X.png"));
    ASSERT_NE(cached.bitmap, nullptr) << id;
    ASSERT_NE(direct, nullptr) << id;
    ASSERT_EQ(cached.width, direct->Width()) << id;
    ASSERT_EQ(cached.height, direct->Height()) << id;
    ASSERT_EQ(cached.bitmap->RowSpan(), direct->RowSpan()) << id;
    for (int y = 0; y < cached.height; ++y)
      for (int x = 0; x < cached.width; ++x)
        ASSERT_EQ(cached.bitmap->Row(y)[x], direct->Row(y)[x]) << id << ": " << x << ", " << y;
  }
}

TEST(EditorLoading, AnImageThatIsNotThereGivesNoBitmapAndIsNotCached) {
  TestHost host;
  Kestrune plug(&host);
  IGraphics& g = *EditorOf(plug);
  EXPECT_EQ(g.LoadImage(4242, "resources/img/NONE.png", 1).bitmap, nullptr);
  EXPECT_EQ(g.LoadImage(4242, "resources/img/NONE.png", 1).bitmap, nullptr);
  EXPECT_EQ(g.LoadImage(4243, "resources/img/BG.bmp", 1).bitmap, nullptr);
}

}  // namespace
