#include "Canvas.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include "PngCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

Rgba Hex(unsigned rgb, float alpha) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, alpha};
}

Rgba Mix(const Rgba& x, const Rgba& y, float t) {
  t = std::min(std::max(t, 0.0f), 1.0f);
  return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t,
          x.a + (y.a - x.a) * t};
}

Canvas::Canvas(int width, int height, int scale)
    : width_(width * scale),
      height_(height * scale),
      scale_(scale),
      data_(static_cast<size_t>(width_) * height_ * 4, 0.0f) {}

void Canvas::PixelBox(float x0, float y0, float x1, float y1, int* ix0, int* iy0, int* ix1,
                      int* iy1) const {
  const float s = static_cast<float>(scale_);
  *ix0 = std::max(0, static_cast<int>(std::floor(x0 * s)));
  *iy0 = std::max(0, static_cast<int>(std::floor(y0 * s)));
  *ix1 = std::min(width_, static_cast<int>(std::ceil(x1 * s)));
  *iy1 = std::min(height_, static_cast<int>(std::ceil(y1 * s)));
}

void Canvas::Blend(int x, int y, const Rgba& c, float coverage) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  float a = c.a * std::min(std::max(coverage, 0.0f), 1.0f);
  if (a <= 0) return;
  float* p = &data_[(static_cast<size_t>(y) * width_ + x) * 4];
  p[0] = c.r * a + p[0] * (1 - a);
  p[1] = c.g * a + p[1] * (1 - a);
  p[2] = c.b * a + p[2] * (1 - a);
  p[3] = a + p[3] * (1 - a);
}

void Canvas::Fill(float x0, float y0, float x1, float y1,
                  const std::function<float(float, float)>& distance,
                  const std::function<Rgba(float, float)>& colour) {
  int ix0, iy0, ix1, iy1;
  PixelBox(x0, y0, x1, y1, &ix0, &iy0, &ix1, &iy1);
  // Distances are in design units; one pixel of anti-aliasing is 1/scale of them.
  const float s = static_cast<float>(scale_);
  for (int y = iy0; y < iy1; ++y)
    for (int x = ix0; x < ix1; ++x) {
      float px = (x + 0.5f) / s, py = (y + 0.5f) / s;
      float cov = 0.5f - distance(px, py) * s;
      if (cov <= 0) continue;
      Blend(x, y, colour(px, py), std::min(cov, 1.0f));
    }
}

void Canvas::Fill(float x0, float y0, float x1, float y1,
                  const std::function<float(float, float)>& distance, const Rgba& colour) {
  Fill(x0, y0, x1, y1, distance, [&](float, float) { return colour; });
}

void Canvas::Shadow(float x0, float y0, float x1, float y1,
                    const std::function<float(float, float)>& distance, float softness,
                    float alpha) {
  int ix0, iy0, ix1, iy1;
  PixelBox(x0, y0, x1, y1, &ix0, &iy0, &ix1, &iy1);
  const float s = static_cast<float>(scale_);
  for (int y = iy0; y < iy1; ++y)
    for (int x = ix0; x < ix1; ++x) {
      float d = distance((x + 0.5f) / s, (y + 0.5f) / s);
      float t = 1.0f - std::min(std::max(d / softness, 0.0f), 1.0f);
      if (t <= 0) continue;
      Blend(x, y, Rgba{0, 0, 0, alpha}, t * t);
    }
}

void Canvas::Wash(float x0, float y0, float x1, float y1,
                  const std::function<float(float, float)>& coverage, const Rgba& colour) {
  int ix0, iy0, ix1, iy1;
  PixelBox(x0, y0, x1, y1, &ix0, &iy0, &ix1, &iy1);
  const float s = static_cast<float>(scale_);
  for (int y = iy0; y < iy1; ++y)
    for (int x = ix0; x < ix1; ++x) Blend(x, y, colour, coverage((x + 0.5f) / s, (y + 0.5f) / s));
}

void Canvas::Paste(const Canvas& other, int ox, int oy) {
  ox *= scale_;
  oy *= scale_;
  for (int y = 0; y < other.height_; ++y)
    for (int x = 0; x < other.width_; ++x) {
      const float* s = &other.data_[(static_cast<size_t>(y) * other.width_ + x) * 4];
      if (s[3] <= 0) continue;
      Blend(x + ox, y + oy, Rgba{s[0] / s[3], s[1] / s[3], s[2] / s[3], 1.0f}, s[3]);
    }
}

void Canvas::FillRect(int x0, int y0, int x1, int y1, const Rgba& colour) {
  for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y)
    for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) Blend(x, y, colour, 1.0f);
}

void Canvas::Line(float x0, float y0, float x1, float y1, const Rgba& colour, float thickness) {
  const float reach = thickness / 2 + 1;
  Fill(std::min(x0, x1) - reach, std::min(y0, y1) - reach, std::max(x0, x1) + reach,
       std::max(y0, y1) + reach,
       [&](float x, float y) { return SegmentDistance(x, y, x0, y0, x1, y1, thickness / 2); },
       colour);
}

Rgba Canvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgba{0, 0, 0, 0};
  const float* p = &data_[(static_cast<size_t>(y) * width_ + x) * 4];
  if (p[3] <= 0) return Rgba{0, 0, 0, 0};
  return Rgba{p[0] / p[3], p[1] / p[3], p[2] / p[3], p[3]};
}

bool Canvas::WritePng(const std::string& path, int compressionLevel) const {
  return ::WritePng(path, width_, height_, Pixels(), compressionLevel);
}

std::vector<unsigned> Canvas::Pixels() const {
  std::vector<unsigned> out(static_cast<size_t>(width_) * height_);
  for (size_t i = 0; i < out.size(); ++i) {
    const float* p = &data_[i * 4];
    float a = p[3];
    auto ch = [&](float v) {
      float s = a > 0 ? v / a : 0;
      return static_cast<unsigned>(std::lround(std::min(std::max(s, 0.0f), 1.0f) * 255));
    };
    unsigned A = static_cast<unsigned>(std::lround(std::min(std::max(a, 0.0f), 1.0f) * 255));
    out[i] = (A << 24) | (ch(p[0]) << 16) | (ch(p[1]) << 8) | ch(p[2]);
  }
  return out;
}

// ---------------------------------------------------------------- text

namespace {
struct Fonts {
  FT_Library library = nullptr;
  std::map<bool, FT_Face> faces;
  FT_Face Get(bool bold) {
    auto it = faces.find(bold);
    if (it != faces.end()) return it->second;
    if (!library) FT_Init_FreeType(&library);
    FcInit();
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(
        bold ? "DejaVu Sans:bold" : "DejaVu Sans"));
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res;
    FcPattern* m = FcFontMatch(nullptr, pat, &res);
    FcChar8* file = nullptr;
    FT_Face face = nullptr;
    if (m && FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch)
      FT_New_Face(library, reinterpret_cast<const char*>(file), 0, &face);
    if (m) FcPatternDestroy(m);
    FcPatternDestroy(pat);
    if (!face) {
      std::fprintf(stderr, "imagegen: no font found\n");
      std::exit(1);
    }
    faces[bold] = face;
    return face;
  }
};
Fonts& TheFonts() {
  static Fonts f;
  return f;
}
}  // namespace

namespace {
// Advance width in pixels of text at a pixel size.
float PixelTextWidth(const std::string& text, float size, bool bold, float spacing) {
  FT_Face face = TheFonts().Get(bold);
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(size * 64), 72, 72);
  float w = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (FT_Load_Char(face, static_cast<unsigned char>(text[i]), FT_LOAD_NO_HINTING)) continue;
    w += face->glyph->advance.x / 64.0f;
    if (i + 1 < text.size()) w += spacing;
  }
  return w;
}
}  // namespace

float Canvas::TextWidth(const std::string& text, float size, bool bold, float spacing) {
  const float s = static_cast<float>(scale_);
  return PixelTextWidth(text, size * s, bold, spacing * s) / s;
}

float Canvas::Text(const std::string& text, float x, float y, float size, bool bold,
                   const Rgba& colour, int align, float spacing) {
  // Glyphs are rendered at the pixel size, not scaled up.
  const float s = static_cast<float>(scale_);
  x *= s;
  y *= s;
  size *= s;
  spacing *= s;
  float w = PixelTextWidth(text, size, bold, spacing);
  if (align == 1) x -= w / 2;
  if (align == 2) x -= w;
  x = std::round(x);
  FT_Face face = TheFonts().Get(bold);
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(size * 64), 72, 72);
  float pen = x;
  for (unsigned char ch : text) {
    if (FT_Load_Char(face, ch, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT)) continue;
    FT_GlyphSlot g = face->glyph;
    int gx = static_cast<int>(std::lround(pen)) + g->bitmap_left;
    int gy = static_cast<int>(std::lround(y)) - g->bitmap_top;
    for (unsigned r = 0; r < g->bitmap.rows; ++r)
      for (unsigned c = 0; c < g->bitmap.width; ++c) {
        unsigned char v = g->bitmap.buffer[r * g->bitmap.pitch + c];
        if (v) Blend(gx + static_cast<int>(c), gy + static_cast<int>(r), colour, v / 255.0f);
      }
    pen += g->advance.x / 64.0f + spacing;
  }
  return w / s;
}

// ---------------------------------------------------------------- shapes

float CircleDistance(float x, float y, float cx, float cy, float r) {
  return std::hypot(x - cx, y - cy) - r;
}

float RoundRectDistance(float x, float y, float x0, float y0, float x1, float y1, float radius) {
  float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
  float dx = std::fabs(x - cx) - hx, dy = std::fabs(y - cy) - hy;
  float outside = std::hypot(std::max(dx, 0.0f), std::max(dy, 0.0f));
  float inside = std::min(std::max(dx, dy), 0.0f);
  return outside + inside - radius;
}

float SegmentDistance(float x, float y, float ax, float ay, float bx, float by, float hw) {
  float px = x - ax, py = y - ay, vx = bx - ax, vy = by - ay;
  float len2 = vx * vx + vy * vy;
  float t = len2 > 0 ? std::min(std::max((px * vx + py * vy) / len2, 0.0f), 1.0f) : 0;
  return std::hypot(px - vx * t, py - vy * t) - hw;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<unsigned>& px,
              int compressionLevel) {
  if (px.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) return false;
  return WriteArgbPng(px.data(), width, height, width, path.c_str(), compressionLevel);
}
