#include "GlyphTable.h"

#include <cstring>

namespace {

constexpr size_t kMagic = 8;
constexpr size_t kFaceBytes = 32;
constexpr size_t kFontHeader = kFaceBytes + 7 * 4;
constexpr size_t kGlyphHeader = 5 * 4;

uint32_t Little32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

int Int(const unsigned char* p) { return static_cast<int>(Little32(p)); }

void Put32(std::vector<unsigned char>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void Set32(std::vector<unsigned char>* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool FindTableFont(const unsigned char* table, size_t length, const char* face, int cellHeight,
                   int style, int quality, GlyphTableFont* font) {
  if (!table || !font || length < kMagic + 4 || std::memcmp(table, "KSTGLYF1", kMagic) != 0)
    return false;
  const uint32_t count = Little32(table + kMagic);
  size_t at = kMagic + 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (length - at < kFontHeader) return false;
    const unsigned char* entry = table + at;
    const uint32_t bytes = Little32(entry + kFaceBytes + 24);
    const int lineHeight = Int(entry + kFaceBytes + 12), ascent = Int(entry + kFaceBytes + 16),
              glyphs = Int(entry + kFaceBytes + 20);
    at += kFontHeader;
    if (bytes > length - at || glyphs < 0 || lineHeight < 0 || lineHeight > 4096) return false;
    const bool named = face && std::strlen(face) < kFaceBytes &&
                       std::strncmp(reinterpret_cast<const char*>(entry), face, kFaceBytes) == 0;
    if (!face || (named && Int(entry + kFaceBytes) == cellHeight &&
                  Int(entry + kFaceBytes + 4) == style && Int(entry + kFaceBytes + 8) == quality)) {
      font->glyphs = table + at;
      font->length = bytes;
      font->glyphCount = glyphs;
      font->lineHeight = lineHeight;
      font->ascent = ascent;
      return true;
    }
    at += bytes;
  }
  return false;
}

bool FindTableGlyph(const GlyphTableFont& font, uint32_t code, GlyphImage* glyph) {
  size_t at = 0;
  for (int i = 0; i < font.glyphCount; ++i) {
    if (font.length - at < kGlyphHeader) return false;
    const unsigned char* entry = font.glyphs + at;
    const int width = Int(entry + 4), height = Int(entry + 8);
    if (width < 0 || height < 0 || width > 4096 || height > 4096) return false;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    at += kGlyphHeader;
    if (bytes > font.length - at) return false;
    if (Little32(entry) == code) {
      glyph->width = width;
      glyph->height = height;
      glyph->left = Int(entry + 12);
      glyph->advance = Int(entry + 16);
      glyph->coverage.assign(font.glyphs + at, font.glyphs + at + bytes);
      return true;
    }
    at += bytes;
  }
  return false;
}

void AppendTableFont(std::vector<unsigned char>* table, const char* face, int cellHeight,
                     int style, int quality, GlyphRasterizer& rasterizer, uint32_t first,
                     uint32_t last) {
  if (table->empty()) {
    table->resize(kMagic);
    std::memcpy(table->data(), "KSTGLYF1", kMagic);
    Put32(table, 0);
  }
  Set32(table, kMagic, Little32(table->data() + kMagic) + 1);
  char name[kFaceBytes] = {};
  std::strncpy(name, face, kFaceBytes - 1);
  table->insert(table->end(), name, name + kFaceBytes);
  for (int value : {cellHeight, style, quality, rasterizer.LineHeight(), rasterizer.Ascent()})
    Put32(table, static_cast<uint32_t>(value));
  const size_t counts = table->size();
  Put32(table, 0);
  Put32(table, 0);
  int glyphs = 0;
  for (uint32_t code = first; code <= last; ++code) {
    GlyphImage glyph;
    if (!rasterizer.Render(code, &glyph)) continue;
    for (int value : {static_cast<int>(code), glyph.width, glyph.height, glyph.left, glyph.advance})
      Put32(table, static_cast<uint32_t>(value));
    table->insert(table->end(), glyph.coverage.begin(), glyph.coverage.end());
    ++glyphs;
  }
  Set32(table, counts, static_cast<uint32_t>(glyphs));
  Set32(table, counts + 4, static_cast<uint32_t>(table->size() - counts - 8));
}
