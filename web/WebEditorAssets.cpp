// What the editor draws with on a web page, handed in by the page before it
// draws: the 1x images (the same PNG files the modules build in), the 2x
// pack kestrune-imagegen drew, and the glyphs the native build rasterized
// (kestrune-web-glyphs, GlyphTable.h). The editor itself is the window-less
// one; the page shows its back buffer in a canvas.
//
// A 1x image is decoded as it is handed in, not when the editor first draws
// it as in the modules: the page hands each in as its download ends, so the
// decoding of one overlaps the download of the others, and the first picture
// only draws.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GlyphRasterizer.h"
#include "GlyphTable.h"
#include "IGraphicsOffscreen.h"
#include "ImagePacks.h"
#include "PIX_Bitmap.h"
#include "PngCodec.h"
#include "WebEditorAssets.h"

namespace {

struct Image {
  int id;
  std::vector<unsigned char> bytes;
  std::unique_ptr<PIX_IBitmap> decoded;  // until the editor's image cache takes it
};

std::vector<Image>& Images() {
  static std::vector<Image> images;
  return images;
}

std::vector<unsigned char>& Pack(int scale) {
  static std::vector<unsigned char> packs[2];
  return packs[scale == 3 ? 1 : 0];
}

std::vector<unsigned char>& Glyphs() {
  static std::vector<unsigned char> glyphs;
  return glyphs;
}

// A font of the glyph table: the glyphs as the native rasterizer made them.
class TableRasterizer : public GlyphRasterizer {
 public:
  explicit TableRasterizer(const GlyphTableFont& font) : font_(font) {}
  int LineHeight() const override { return font_.lineHeight; }
  int Ascent() const override { return font_.ascent; }
  bool Render(uint32_t code, GlyphImage* out) override {
    return out && FindTableGlyph(font_, code, out);
  }

 private:
  GlyphTableFont font_;
};

}  // namespace

bool AddEditorImage(int resourceId, const unsigned char* png, size_t length) {
  if (!png || length < 8) return false;
  for (const Image& image : Images())
    if (image.id == resourceId) return false;
  std::unique_ptr<PIX_IBitmap> decoded(LoadPngFromMemory(png, length));
  if (!decoded) return false;
  Images().push_back({resourceId, std::vector<unsigned char>(png, png + length), std::move(decoded)});
  return true;
}

bool EditorImagesHandedIn() { return !Images().empty(); }

bool SetEditorImagePack(int scale, const unsigned char* pack, size_t length) {
  PackedImage probe;
  if ((scale != 2 && scale != 3) || !pack || length < 16 ||
      !FindPackedImage(pack, length, "BG", &probe) || probe.scale != scale)
    return false;
  Pack(scale).assign(pack, pack + length);
  return true;
}

bool SetEditorGlyphs(const unsigned char* table, size_t length) {
  GlyphTableFont first;
  if (!table || !FindTableFont(table, length, nullptr, 0, 0, 0, &first)) return false;
  Glyphs().assign(table, table + length);
  return true;
}

bool FindImageResource(int resourceId, const unsigned char** data, size_t* length) {
  if (!data || !length) return false;
  for (const Image& image : Images()) {
    if (image.id == resourceId) {
      *data = image.bytes.data();
      *length = image.bytes.size();
      return true;
    }
  }
  return false;
}

bool FindImagePack(int scale, const unsigned char** data, size_t* length) {
  if ((scale != 2 && scale != 3) || !data || !length || Pack(scale).empty()) return false;
  *data = Pack(scale).data();
  *length = Pack(scale).size();
  return true;
}

std::unique_ptr<GlyphRasterizer> CreateGlyphRasterizer(const char* faceName, int cellHeight,
                                                       int style, int quality) {
  GlyphTableFont font;
  if (!faceName ||
      !FindTableFont(Glyphs().data(), Glyphs().size(), faceName, cellHeight, style, quality, &font))
    return nullptr;
  return std::make_unique<TableRasterizer>(font);
}

namespace {

// The window-less editor, given the images decoded as they came in.
class WebGraphics : public IGraphicsOffscreen {
 public:
  using IGraphicsOffscreen::IGraphicsOffscreen;
  PIX_IBitmap* LoadImageResource(int resourceId, const char* name) override {
    for (Image& image : Images())
      if (image.id == resourceId && image.decoded) return image.decoded.release();
    return IGraphicsOffscreen::LoadImageResource(resourceId, name);
  }
};

}  // namespace

IGraphics* CreatePlatformGraphics(IEffectBase* plug, int width, int height, int frameRate) {
  return new WebGraphics(plug, width, height, frameRate);
}
