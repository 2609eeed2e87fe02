// Text drawing: glyph blending, the glyph cache, alignment and the fonts
// found for the editor's styles.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "IControl.h"
#include "PIX_Font.h"

namespace {

// A rasterizer whose every glyph is a 2 x 3 block of one coverage value with
// an advance of 4; counts how often it is asked.
class BlockRasterizer : public GlyphRasterizer {
 public:
  explicit BlockRasterizer(uint8_t coverage, int* renders) : coverage_(coverage), renders_(renders) {}
  int LineHeight() const override { return 3; }
  int Ascent() const override { return 2; }
  bool Render(uint32_t code, GlyphImage* out) override {
    ++*renders_;
    out->width = 2;
    out->height = 3;
    out->left = 0;
    out->advance = 4;
    out->coverage.assign(6, code == ' ' ? 0 : coverage_);
    return true;
  }

 private:
  uint8_t coverage_;
  int* renders_;
};

uint32_t DrawOne(uint8_t coverage, uint32_t dest, uint32_t colour, int format) {
  int renders = 0;
  PIX_CachedFont font;
  font.SetFromHandle(std::make_unique<BlockRasterizer>(coverage, &renders), 0);
  font.SetTextColour(colour);
  PIX_MemBitmap bmp;
  bmp.Resize(4, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) bmp.Row(y)[x] = dest;
  PixelRect r(0, 0, 4, 3);
  font.DrawTextInto(&bmp, "x", -1, &r, format);
  return bmp.Row(1)[1];
}

TEST(GlyphBlending, FullCoverageGivesTheTextColourAndPartialCoverageMixes) {
  EXPECT_EQ(DrawOne(255, 0xFF102030u, 0xFFF0E0D0u, 0), 0xFFF0E0D0u);
  // f = 255 - 128 = 127: 0x10 + (0xF0 - 0x10) * 127 / 256 = 16 + 111 = 127.
  EXPECT_EQ(DrawOne(128, 0xFFF0F0F0u, 0xFF101010u, 0), 0xFF7F7F7Fu);
  // On a transparent pixel alpha builds up from the coverage.
  EXPECT_EQ(DrawOne(255, 0x00000000u, 0xFFFFFFFFu, 0) >> 24, 255u);
  EXPECT_EQ(DrawOne(0, 0x11223344u, 0xFFFFFFFFu, 0), 0x11223344u);
}

TEST(GlyphBlending, TranslucentTextColourIsHonouredWhenAsked) {
  // Colour alpha 128 with the alpha flag: w = 128, g = 256 - 128 * 255 / 256 = 129.
  uint32_t blended = DrawOne(255, 0xFF000000u, 0x80C8C8C8u, TextFormatUseColourAlpha);
  // 200 + (0 - 200) * 129 / 256 = 200 - 100 = 100.
  EXPECT_EQ((blended >> 16) & 255, 100u);
  uint32_t opaque = DrawOne(255, 0xFF000000u, 0x80C8C8C8u, 0);
  EXPECT_EQ((opaque >> 16) & 255, 200u);
}

TEST(GlyphCache, EachCharacterIsRasterizedOnceAndWideCodesStaySorted) {
  int renders = 0;
  PIX_CachedFont font;
  font.SetFromHandle(std::make_unique<BlockRasterizer>(255, &renders), 0);
  PIX_MemBitmap bmp;
  bmp.Resize(64, 8);
  PixelRect r(0, 0, 64, 8);
  font.DrawTextInto(&bmp, "a\xC3\xA9" "a\xE2\x82\xAC\xC3\xA9", -1, &r, 0);  // a é a € é
  EXPECT_EQ(renders, 3);
  EXPECT_EQ(font.ExtendedGlyphCount(), 2u);
  font.DrawTextInto(&bmp, "\xE2\x82\xAC", -1, &r, 0);
  EXPECT_EQ(renders, 3);
  ASSERT_NE(font.FindGlyph(0xE9), nullptr);
  EXPECT_EQ(font.FindGlyph(0xE9)->code, 0xE9u);
  EXPECT_EQ(font.FindGlyph(0x20AC)->code, 0x20ACu);
}

TEST(GlyphCache, InvalidUtf8IsDrawnByteByByte) {
  std::vector<uint32_t> codes;
  EXPECT_EQ(DecodeUtf8("A\xC3", -1, &codes), 2);
  EXPECT_EQ(codes[1], 0xC3u);
  EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC", -1, &codes), 1);
  EXPECT_EQ(codes[0], 0x20ACu);
}

TEST(TextLayout, CentredAndRightAlignedTextAndMeasuring) {
  int renders = 0;
  PIX_CachedFont font;
  font.SetFromHandle(std::make_unique<BlockRasterizer>(255, &renders), 0);
  font.SetTextColour(0xFFFFFFFFu);
  PIX_MemBitmap bmp;
  bmp.Resize(20, 3);
  FillPixelRect(&bmp, 0, 0, 20, 3, 0, 1.0f, BlitCopy);
  PixelRect r(0, 0, 20, 3);
  font.DrawTextInto(&bmp, "ab", -1, &r, TextFormatCentre);  // 8 wide: starts at 6
  EXPECT_EQ(bmp.Row(0)[5], 0u);
  EXPECT_NE(bmp.Row(0)[6], 0u);
  EXPECT_NE(bmp.Row(0)[11], 0u);
  EXPECT_EQ(bmp.Row(0)[12], 0u);
  PixelRect calc(3, 4, 3, 4);
  font.DrawTextInto(nullptr, "abc", -1, &calc, TextFormatCalcRect);
  EXPECT_EQ(calc, PixelRect(3, 4, 15, 7));
}

TEST(EditorFonts, StylesFindACachedFontAndTheVersionLineMeasuresSensibly) {
  TextStyle style("Verdana", 14, ArgbColor(255, 255, 255, 255));
  PIX_CachedFont* font = IGraphics::FindOrCreateFont(style);
  ASSERT_NE(font, nullptr) << "no font through fontconfig";
  EXPECT_EQ(style.cachedFont, font);
  TextStyle same("Verdana", 14, ArgbColor(255, 0, 0, 0));
  EXPECT_EQ(IGraphics::FindOrCreateFont(same), font);
  TextStyle bigger("Verdana", 20, ArgbColor(255, 0, 0, 0));
  EXPECT_NE(IGraphics::FindOrCreateFont(bigger), font);
  EXPECT_GE(font->LineHeight(), 13);
  EXPECT_LE(font->LineHeight(), 16);

  IGraphicsOffscreen g(nullptr, 100, 30, 25);
  PixelRect r(0, 10, 100, 30);
  ASSERT_TRUE(g.MeasureTextInRect(style, "Version 3.1.0", &r));
  EXPECT_GT(r.Width(), 60);
  EXPECT_LT(r.Width(), 100);
  EXPECT_EQ(r.left, 50 - r.Width() / 2);
  EXPECT_EQ(r.top, 10);
}

}  // namespace
