// The glyph-rasterizer seam: turns one character of one font into an 8-bit
// coverage mask. FreeType with fontconfig on Linux; GDI on Windows
// (win/GlyphRasterizerGdi.cpp), which also draws text natively into a
// bitmap's device context outside Wine.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "GraphicsTypes.h"

// One character's mask: `height` rows of `width` coverage bytes (0 no ink,
// 255 full ink). Rows span the whole line: row 0 is the line's top, the
// baseline is at the rasterizer's Ascent(). `left` is the first mask column
// relative to the pen position; `advance` moves the pen.
struct GlyphImage {
  int width = 0;
  int height = 0;
  int left = 0;
  int advance = 0;
  std::vector<uint8_t> coverage;
};

class GlyphRasterizer {
 public:
  virtual ~GlyphRasterizer() = default;
  virtual int LineHeight() const = 0;
  virtual int Ascent() const = 0;
  // False when the character cannot be rendered at all; a character without
  // ink renders with width 0 and only an advance.
  virtual bool Render(uint32_t code, GlyphImage* out) = 0;
  // Draws UTF-8 text straight into a bitmap's platform drawing context
  // (format and clip as PIX_IFont::DrawTextInto) when this platform prefers
  // that to the glyph cache. False: nothing was drawn, the glyph cache draws.
  virtual bool DrawNative(PIX_IBitmap* /*bitmap*/, const char* /*text*/, int /*length*/,
                          const PixelRect& /*rect*/, int /*format*/, const PixelRect* /*clip*/,
                          uint32_t /*textColour*/, int /*backgroundMode*/,
                          uint32_t /*backgroundColour*/) {
    return false;
  }
};

// Creates a rasterizer for a face name, a character cell height in pixels,
// a style (TextStyleKind) and a quality (TextQuality); null when no font can
// be had. Unknown faces fall back to a metric-compatible sans.
std::unique_ptr<GlyphRasterizer> CreateGlyphRasterizer(const char* faceName, int cellHeight,
                                                       int style, int quality);
