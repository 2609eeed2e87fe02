#include "CanvasLabel.h"

#include "GraphicsTypes.h"

LabelFont::LabelFont(int pixelHeight, bool bold)
    : rasterizer_(CreateGlyphRasterizer("Arial", pixelHeight, bold ? TextBold : TextNormal, QualityAntialiased)) {}

const GlyphImage* LabelFont::Glyph(unsigned char code) {
  if (!rasterizer_) return nullptr;
  auto found = glyphs_.find(code);
  if (found != glyphs_.end()) return &found->second;
  GlyphImage image;
  if (!rasterizer_->Render(code, &image) && !rasterizer_->Render('?', &image)) return nullptr;
  return &glyphs_.emplace(code, std::move(image)).first->second;
}

int LabelFont::Width(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) {
    if (const GlyphImage* glyph = Glyph(c)) width += glyph->advance;
  }
  return width;
}

int LabelFont::Height() const { return rasterizer_ ? rasterizer_->LineHeight() : 0; }

void LabelFont::Draw(Canvas& canvas, int x, int y, const std::string& text, const Rgba& colour) {
  int pen = x;
  for (unsigned char c : text) {
    const GlyphImage* glyph = Glyph(c);
    if (!glyph) continue;
    for (int row = 0; row < glyph->height; ++row) {
      for (int column = 0; column < glyph->width; ++column) {
        const uint8_t ink = glyph->coverage[static_cast<size_t>(row * glyph->width + column)];
        if (ink) canvas.Blend(pen + glyph->left + column, y + row, colour, ink / 255.0f);
      }
    }
    pen += glyph->advance;
  }
}

void LabelFont::DrawUp(Canvas& canvas, int x, int y, const std::string& text, const Rgba& colour) {
  // Level text position (px, py) lands at (x + py, y + width - 1 - px).
  const int width = Width(text);
  int pen = 0;
  for (unsigned char c : text) {
    const GlyphImage* glyph = Glyph(c);
    if (!glyph) continue;
    for (int row = 0; row < glyph->height; ++row) {
      for (int column = 0; column < glyph->width; ++column) {
        const uint8_t ink = glyph->coverage[static_cast<size_t>(row * glyph->width + column)];
        if (ink) canvas.Blend(x + row, y + width - 1 - (pen + glyph->left + column), colour, ink / 255.0f);
      }
    }
    pen += glyph->advance;
  }
}
