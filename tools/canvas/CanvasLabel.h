// Labels on the tools' canvas, drawn with the graphics library's own glyph
// rasterizer (the font rendering the editor uses): whole-pixel text for
// plots, level or turned a quarter turn to read upwards.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Canvas.h"
#include "GlyphRasterizer.h"

class LabelFont {
 public:
  // A sans face `pixelHeight` pixels high; with no font on the system the
  // labels are left out (Width() is then 0).
  explicit LabelFont(int pixelHeight, bool bold = false);
  int Width(const std::string& text);
  int Height() const;
  // Text with its top-left corner at (x, y).
  void Draw(Canvas& canvas, int x, int y, const std::string& text, const Rgba& colour);
  // Text reading bottom to top; (x, y) is the top-left corner of the turned
  // text.
  void DrawUp(Canvas& canvas, int x, int y, const std::string& text, const Rgba& colour);

 private:
  const GlyphImage* Glyph(unsigned char code);

  std::unique_ptr<GlyphRasterizer> rasterizer_;
  std::map<uint32_t, GlyphImage> glyphs_;
};
