// The small bitmap font used to label kestrune-render's pictures.
#pragma once

namespace render {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;  // one column of space between glyphs

// Seven rows of five characters for `code`, '#' marking ink; characters
// outside printable ASCII give the glyph of '?'.
const char* const* GlyphRows(char code);

}  // namespace render
