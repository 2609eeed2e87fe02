// FreeType glyph rasterizer with the face chosen through fontconfig.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <string>

#include "GlyphRasterizer.h"
#include "GraphicsTypes.h"

namespace {

// Finds the file of the closest installed face. fontconfig substitutes a
// metric-compatible sans (DejaVu Sans on a bare Debian) for Verdana.
bool MatchFontFile(const char* faceName, int style, std::string* path, int* index) {
  // A private configuration, released after the match, so the host's own
  // fontconfig state is neither touched nor kept alive by the plug-in.
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return false;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) {
    FcConfigDestroy(config);
    return false;
  }
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(faceName));
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
  FcPatternAddInteger(pattern, FC_WEIGHT, style == TextBold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, style == TextItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) {
    FcConfigDestroy(config);
    return false;
  }
  FcChar8* file = nullptr;
  int faceIndex = 0;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
  if (ok) {
    *path = reinterpret_cast<const char*>(file);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &faceIndex) != FcResultMatch) faceIndex = 0;
    *index = faceIndex;
  }
  FcPatternDestroy(match);
  FcConfigDestroy(config);
  return ok;
}

class FreeTypeRasterizer : public GlyphRasterizer {
 public:
  ~FreeTypeRasterizer() override {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  bool Open(const char* faceName, int cellHeight, int style, int quality) {
    std::string path;
    int index = 0;
    if (cellHeight <= 0 || !MatchFontFile(faceName, style, &path, &index)) return false;
    // Each font has its own library so that fonts can be destroyed in any
    // order when the module unloads.
    if (FT_Init_FreeType(&library_) != 0) return false;
    if (FT_New_Face(library_, path.c_str(), index, &face_) != 0) return false;
    // The height asks for the character cell (ascent + descent), as on
    // Windows, so the em size is scaled down to fit it.
    double cellUnits = static_cast<double>(face_->ascender - face_->descender);
    double em = cellHeight;
    if (FT_IS_SCALABLE(face_) && cellUnits > 0) em = cellHeight * face_->units_per_EM / cellUnits;
    if (FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(std::lround(em * 64.0)), 72, 72) != 0)
      return false;
    ascent_ = static_cast<int>(std::lround(face_->size->metrics.ascender / 64.0));
    int descent = static_cast<int>(std::lround(-face_->size->metrics.descender / 64.0));
    lineHeight_ = std::max(1, ascent_ + descent);
    mono_ = quality == QualityNoAntialias;
    syntheticBold_ = style == TextBold && !(face_->style_flags & FT_STYLE_FLAG_BOLD);
    return true;
  }

  int LineHeight() const override { return lineHeight_; }
  int Ascent() const override { return ascent_; }

  bool Render(uint32_t code, GlyphImage* out) override {
    if (!face_ || !out) return false;
    FT_Int32 flags = FT_LOAD_DEFAULT | (mono_ ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT);
    if (FT_Load_Char(face_, code, flags) != 0) return false;
    FT_GlyphSlot slot = face_->glyph;
    if (syntheticBold_ && slot->format == FT_GLYPH_FORMAT_OUTLINE)
      FT_Outline_Embolden(&slot->outline, face_->size->metrics.x_ppem * 2);
    if (FT_Render_Glyph(slot, mono_ ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0)
      return false;
    const FT_Bitmap& bm = slot->bitmap;
    out->advance = static_cast<int>(std::lround(slot->advance.x / 64.0));
    out->height = lineHeight_;
    out->left = slot->bitmap_left;
    out->width = static_cast<int>(bm.width);
    out->coverage.assign(static_cast<size_t>(out->width) * out->height, 0);
    int top = ascent_ - slot->bitmap_top;
    for (int row = 0; row < static_cast<int>(bm.rows); ++row) {
      int y = top + row;
      if (y < 0 || y >= lineHeight_) continue;
      const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
      uint8_t* dst = out->coverage.data() + static_cast<size_t>(y) * out->width;
      for (int x = 0; x < out->width; ++x) {
        if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
          dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        else
          dst[x] = src[x];
      }
    }
    return true;
  }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int lineHeight_ = 0;
  int ascent_ = 0;
  bool mono_ = false;
  bool syntheticBold_ = false;
};

}  // namespace

std::unique_ptr<GlyphRasterizer> CreateGlyphRasterizer(const char* faceName, int cellHeight,
                                                       int style, int quality) {
  auto rasterizer = std::make_unique<FreeTypeRasterizer>();
  if (!rasterizer->Open(faceName ? faceName : "", cellHeight, style, quality)) return nullptr;
  return rasterizer;
}
