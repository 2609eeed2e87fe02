// No glyph rasterizer in this build yet (the Windows GDI path arrives with the
// Windows editor window): fonts cannot be created and text is not drawn.
#include "GlyphRasterizer.h"

std::unique_ptr<GlyphRasterizer> CreateGlyphRasterizer(const char*, int, int, int) {
  return nullptr;
}
