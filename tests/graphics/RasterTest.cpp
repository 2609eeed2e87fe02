// The blit arithmetic and clipping every editor image goes through, and the
// bitmap resize rules.
#include <gtest/gtest.h>

#include <memory>

#include "PIX_Bitmap.h"

namespace {

uint32_t Argb(int a, int r, int g, int b) { return ArgbColor(a, r, g, b).ToPixel(); }

struct Pair {
  PIX_MemBitmap dest, src;
  Pair(int dw, int dh, uint32_t d, int sw, int sh, uint32_t s) {
    dest.Resize(dw, dh);
    src.Resize(sw, sh);
    for (int y = 0; y < dh; ++y)
      for (int x = 0; x < dw; ++x) dest.Row(y)[x] = d;
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) src.Row(y)[x] = s;
  }
};

TEST(Blit, HalfTransparentBlackOverWhiteUsesTheFactor255MinusAlpha) {
  Pair p(1, 1, Argb(255, 255, 255, 255), 1, 1, Argb(128, 0, 0, 0));
  BlitImage(&p.dest, &p.src, 0, 0, nullptr, 1.0f, BlitCopy | BlitUseSourceAlpha);
  EXPECT_EQ(p.dest.Row(0)[0], Argb(255, 126, 126, 126));
}

TEST(Blit, NegativeDifferencesTruncateTowardZero) {
  Pair p(1, 1, Argb(0, 0, 0, 0), 1, 1, Argb(1, 200, 200, 200));
  BlitImage(&p.dest, &p.src, 0, 0, nullptr, 1.0f, BlitCopy | BlitUseSourceAlpha);
  EXPECT_EQ(p.dest.Row(0)[0], Argb(1, 2, 2, 2));
}

TEST(Blit, PartialWeightUsesScaledAlphaAndAccumulatesDestinationAlpha) {
  // w = 64, k = (255 + 1) * 64 / 256 = 64: colour 100 + (0 - 100) * 192 / 256 = 25.
  Pair p(1, 1, Argb(10, 0, 0, 0), 1, 1, Argb(255, 100, 100, 100));
  BlitImage(&p.dest, &p.src, 0, 0, nullptr, 0.25f, BlitCopy | BlitUseSourceAlpha);
  EXPECT_EQ(p.dest.Row(0)[0], Argb(74, 25, 25, 25));
}

TEST(Blit, FullyTransparentSourceLeavesTheDestinationInEveryAlphaMode) {
  for (int mode : {BlitCopy | BlitUseSourceAlpha, BlitAdd | BlitUseSourceAlpha,
                   BlitDodge | BlitUseSourceAlpha}) {
    for (float weight : {1.0f, 0.5f, 0.3f}) {
      Pair p(2, 2, Argb(77, 10, 120, 240), 2, 2, Argb(0, 255, 255, 255));
      BlitImage(&p.dest, &p.src, 0, 0, nullptr, weight, mode);
      EXPECT_EQ(p.dest.Row(1)[1], Argb(77, 10, 120, 240)) << mode << " " << weight;
    }
  }
}

TEST(Blit, PlainCopyAtFullHalfAndOtherWeights) {
  Pair full(1, 1, Argb(0, 0, 0, 0), 1, 1, Argb(9, 200, 100, 50));
  BlitImage(&full.dest, &full.src, 0, 0, nullptr, 1.0f, BlitCopy);
  EXPECT_EQ(full.dest.Row(0)[0], Argb(9, 200, 100, 50));

  Pair half(1, 1, Argb(255, 101, 0, 255), 1, 1, Argb(255, 201, 255, 0));
  BlitImage(&half.dest, &half.src, 0, 0, nullptr, 0.5f, BlitCopy);
  EXPECT_EQ(half.dest.Row(0)[0], Argb(254, 150, 127, 127));

  // w = 192: d = s + (d - s) * 64 / 256.
  Pair quarter(1, 1, Argb(0, 0, 0, 0), 1, 1, Argb(255, 200, 100, 40));
  BlitImage(&quarter.dest, &quarter.src, 0, 0, nullptr, 0.75f, BlitCopy);
  EXPECT_EQ(quarter.dest.Row(0)[0], Argb(192, 150, 75, 30));
}

TEST(Blit, AddAndDodgeClampAtWhite) {
  Pair add(1, 1, Argb(200, 200, 10, 0), 1, 1, Argb(255, 100, 100, 0));
  BlitImage(&add.dest, &add.src, 0, 0, nullptr, 1.0f, BlitAdd | BlitUseSourceAlpha);
  EXPECT_EQ(add.dest.Row(0)[0], Argb(255, 255, 110, 0));

  // k = 256: den = 256 - 128 = 128, so 100 doubles; a source of 255 makes den 1.
  Pair dodge(1, 1, Argb(255, 100, 100, 100), 1, 1, Argb(255, 128, 255, 0));
  BlitImage(&dodge.dest, &dodge.src, 0, 0, nullptr, 1.0f, BlitDodge | BlitUseSourceAlpha);
  EXPECT_EQ(dodge.dest.Row(0)[0], Argb(255, 200, 255, 100));
}

// Source with a distinct value per column.
void NumberColumns(PIX_MemBitmap& src) {
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) src.Row(y)[x] = Argb(255, x, y, 0);
}

TEST(BlitClipping, NegativeSourceLeftShiftsTheDrawingRight) {
  Pair p(40, 4, 0, 20, 4, 0);
  NumberColumns(p.src);
  PixelRect r(-10, 0, 20, 4);
  BlitImage(&p.dest, &p.src, 5, 0, &r, 1.0f, BlitCopy);
  EXPECT_EQ(p.dest.Row(0)[14], 0u);
  EXPECT_EQ(p.dest.Row(0)[15], Argb(255, 0, 0, 0));
  EXPECT_EQ(p.dest.Row(2)[34], Argb(255, 19, 2, 0));
  EXPECT_EQ(p.dest.Row(0)[35], 0u);
}

TEST(BlitClipping, NegativeDestinationSkipsTheHiddenSourcePart) {
  Pair p(10, 10, 0, 20, 20, 0);
  NumberColumns(p.src);
  BlitImage(&p.dest, &p.src, -3, -2, nullptr, 1.0f, BlitCopy);
  EXPECT_EQ(p.dest.Row(0)[0], Argb(255, 3, 2, 0));
  EXPECT_EQ(p.dest.Row(9)[9], Argb(255, 12, 11, 0));
}

TEST(BlitClipping, SourceRectBeyondTheImageAndEmptyResultsDrawNothingOutside) {
  Pair p(10, 10, 0, 4, 4, 0);
  NumberColumns(p.src);
  PixelRect r(2, 2, 50, 50);  // limited to the source
  BlitImage(&p.dest, &p.src, 0, 0, &r, 1.0f, BlitCopy);
  EXPECT_EQ(p.dest.Row(1)[1], Argb(255, 3, 3, 0));
  EXPECT_EQ(p.dest.Row(2)[2], 0u);
  Pair q(10, 10, 0, 4, 4, 0);
  NumberColumns(q.src);
  BlitImage(&q.dest, &q.src, 10, 0, nullptr, 1.0f, BlitCopy);  // right of the destination
  BlitImage(&q.dest, &q.src, 0, 0, nullptr, 0.0f, BlitCopy);   // zero weight
  BlitImage(&q.dest, nullptr, 0, 0, nullptr, 1.0f, BlitCopy);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(q.dest.Row(y)[x], 0u);
}

TEST(Resample, ShrinkingAveragesAreaWithoutDarkFringesAndTheSameSizeCopies) {
  // 2 x 2 to 1 x 1: three opaque white pixels and one clear black one give
  // white at three quarters cover, not a grey that would darken edges.
  PIX_MemBitmap src;
  src.Resize(3, 2);
  src.Row(0)[0] = Argb(255, 255, 255, 255);
  src.Row(0)[1] = Argb(0, 0, 0, 0);
  src.Row(1)[0] = Argb(255, 255, 255, 255);
  src.Row(1)[1] = Argb(255, 255, 255, 255);
  src.Row(0)[2] = src.Row(1)[2] = Argb(255, 10, 20, 30);
  std::unique_ptr<PIX_MemBitmap> half(ResampleBitmap(&src, PixelRect(0, 0, 2, 2), 1, 1));
  ASSERT_TRUE(half);
  EXPECT_EQ(half->Row(0)[0], Argb(191, 255, 255, 255));
  std::unique_ptr<PIX_MemBitmap> same(ResampleBitmap(&src, PixelRect(1, 0, 3, 2), 2, 2));
  ASSERT_TRUE(same);
  EXPECT_EQ(same->Row(1)[1], Argb(255, 10, 20, 30));
  EXPECT_EQ(same->Row(1)[0], Argb(255, 255, 255, 255));
  EXPECT_FALSE(ResampleBitmap(&src, PixelRect(2, 0, 4, 2), 1, 1)) << "outside the source";
}

TEST(SysBitmap, ShrinkingKeepsPixelsAndRowSpanAndZeroSizeFreesThem) {
  PIX_SysBitmap b;
  EXPECT_TRUE(b.Resize(10, 5));
  EXPECT_EQ(b.RowSpan(), 12);
  ASSERT_NE(b.PixelData(), nullptr);
  uint32_t* pixels = b.PixelData();
  EXPECT_FALSE(b.Resize(10, 5));
  EXPECT_TRUE(b.Resize(3, 2));
  EXPECT_EQ(b.PixelData(), pixels);
  EXPECT_EQ(b.RowSpan(), 12);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_TRUE(b.Resize(13, 2));  // wider than allocated: new pixels
  EXPECT_EQ(b.RowSpan(), 16);
  EXPECT_FALSE(b.Resize(0, 0));
  EXPECT_EQ(b.PixelData(), nullptr);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_FALSE(b.Resize(-4, 7));
  EXPECT_EQ(b.PixelData(), nullptr);
}

TEST(MemBitmap, RowsArePaddedAlignedAndAbsurdSizesAreRefused) {
  PIX_MemBitmap b;
  EXPECT_TRUE(b.Resize(5, 3));
  EXPECT_EQ(b.RowSpan(), 8);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.PixelData()) % 64, 0u);
  EXPECT_EQ(b.AllocatedBytes(), 8 * 3 * 4);
  EXPECT_TRUE(b.Resize(7, 3));  // same allocation fits
  EXPECT_EQ(b.AllocatedBytes(), 96);
  EXPECT_TRUE(b.Resize(8, 4));  // grows with a quarter of headroom
  EXPECT_EQ(b.AllocatedBytes(), 128 / 4 * 5);
  EXPECT_TRUE(b.Resize(1 << 20, 1 << 20));  // would overflow: refused, not wrapped
  EXPECT_EQ(b.PixelData(), nullptr);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
}

}  // namespace
