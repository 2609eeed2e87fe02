// The glyph table: the editor's text as the native build's rasterizer
// (FreeType here) draws it, written at build time by kestrune-web-glyphs and
// read by the web page's editor, which has no rasterizer of its own.
//
// Layout, little-endian: "KSTGLYF1", the font count (u32), then per font its
// face name (32 bytes, NUL-padded), cell height, style, quality, line
// height, ascent, glyph count and the glyphs' byte length (i32 each), then
// per glyph its code (u32), width, height, left and advance (i32 each) and
// width x height coverage bytes. Read as untrusted: every length is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GlyphRasterizer.h"

struct GlyphTableFont {
  const unsigned char* glyphs = nullptr;
  size_t length = 0;
  int glyphCount = 0;
  int lineHeight = 0;
  int ascent = 0;
};

// The font for a face, cell height, style and quality; with a null face the
// table's first font (any well-formed table has one). False when there is
// none or the table is not well formed.
bool FindTableFont(const unsigned char* table, size_t length, const char* face, int cellHeight,
                   int style, int quality, GlyphTableFont* font);
// A glyph of a font, as the rasterizer rendered it; false when the table has
// no such character.
bool FindTableGlyph(const GlyphTableFont& font, uint32_t code, GlyphImage* glyph);

// Appends a font with the characters first..last that `rasterizer` renders
// (starting the table when `table` is empty).
void AppendTableFont(std::vector<unsigned char>* table, const char* face, int cellHeight,
                     int style, int quality, GlyphRasterizer& rasterizer, uint32_t first,
                     uint32_t last);
