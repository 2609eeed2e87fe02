#include "Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "PixelFont.h"
#include "PngCodec.h"

namespace render {

Canvas::Canvas(int width, int height, Color background)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
  rgba_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4);
  FillRect(0, 0, width_, height_, background);
}

Color Canvas::Pixel(int x, int y) const {
  Color c;
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return c;
  const uint8_t* p = &rgba_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4];
  c.r = p[0];
  c.g = p[1];
  c.b = p[2];
  c.a = p[3];
  return c;
}

void Canvas::Blend(int x, int y, Color color, double coverage) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || !(coverage > 0)) return;
  const double alpha = std::min(coverage, 1.0) * color.a / 255.0;
  uint8_t* p = &rgba_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4];
  auto mix = [alpha](uint8_t under, uint8_t over) {
    return static_cast<uint8_t>(std::lround(under + (over - under) * alpha));
  };
  p[0] = mix(p[0], color.r);
  p[1] = mix(p[1], color.g);
  p[2] = mix(p[2], color.b);
  p[3] = static_cast<uint8_t>(std::lround(p[3] + (255 - p[3]) * alpha));
}

void Canvas::FillRect(int left, int top, int right, int bottom, Color color) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, width_);
  bottom = std::min(bottom, height_);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      if (color.a < 255) {
        Blend(x, y, color, 1.0);
        continue;
      }
      uint8_t* p = &rgba_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4];
      p[0] = color.r;
      p[1] = color.g;
      p[2] = color.b;
      p[3] = color.a;
    }
  }
}

void Canvas::Line(double x0, double y0, double x1, double y1, Color color, double thickness) {
  // Coverage from the distance to the segment: 1 inside half the thickness,
  // fading to 0 over one pixel.
  const double half = thickness / 2.0;
  const int left = static_cast<int>(std::floor(std::min(x0, x1) - half - 1));
  const int right = static_cast<int>(std::ceil(std::max(x0, x1) + half + 1));
  const int top = static_cast<int>(std::floor(std::min(y0, y1) - half - 1));
  const int bottom = static_cast<int>(std::ceil(std::max(y0, y1) + half + 1));
  const double dx = x1 - x0, dy = y1 - y0;
  const double lengthSquared = dx * dx + dy * dy;
  for (int y = std::max(top, 0); y <= std::min(bottom, height_ - 1); ++y) {
    for (int x = std::max(left, 0); x <= std::min(right, width_ - 1); ++x) {
      const double px = x + 0.5 - x0, py = y + 0.5 - y0;
      double t = lengthSquared > 0 ? (px * dx + py * dy) / lengthSquared : 0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = px - t * dx, ey = py - t * dy;
      const double distance = std::sqrt(ex * ex + ey * ey);
      const double coverage = std::clamp(half + 0.5 - distance, 0.0, 1.0);
      Blend(x, y, color, coverage);
    }
  }
}

void Canvas::Text(int x, int y, const std::string& text, Color color, int scale) {
  scale = std::max(scale, 1);
  int penX = x;
  for (char c : text) {
    const char* const* rows = GlyphRows(c);
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int column = 0; column < kGlyphWidth; ++column) {
        if (rows[row][column] != '#') continue;
        FillRect(penX + column * scale, y + row * scale, penX + (column + 1) * scale,
                 y + (row + 1) * scale, color);
      }
    }
    penX += kGlyphAdvance * scale;
  }
}

void Canvas::TextUp(int x, int y, const std::string& text, Color color, int scale) {
  scale = std::max(scale, 1);
  // Glyph column c, row r of character i lands at x + r, y + width - (i*advance + c).
  const int length = TextWidth(text, scale);
  int pen = 0;
  for (char c : text) {
    const char* const* rows = GlyphRows(c);
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int column = 0; column < kGlyphWidth; ++column) {
        if (rows[row][column] != '#') continue;
        const int px = x + row * scale;
        const int py = y + length - (pen + (column + 1) * scale);
        FillRect(px, py, px + scale, py + scale, color);
      }
    }
    pen += kGlyphAdvance * scale;
  }
}

int Canvas::TextWidth(const std::string& text, int scale) {
  if (text.empty()) return 0;
  return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * std::max(scale, 1);
}

int Canvas::TextHeight(int scale) { return kGlyphHeight * std::max(scale, 1); }

void Canvas::CopyArgb(const uint32_t* pixels, int width, int height, int stride) {
  for (int y = 0; y < std::min(height, height_); ++y) {
    for (int x = 0; x < std::min(width, width_); ++x) {
      const uint32_t v = pixels[static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x)];
      uint8_t* p = &rgba_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4];
      p[0] = static_cast<uint8_t>(v >> 16);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v);
      p[3] = static_cast<uint8_t>(v >> 24);
    }
  }
}

bool Canvas::WritePng(const std::string& path, std::string& error) const {
  std::vector<uint32_t> argb(static_cast<size_t>(width_) * static_cast<size_t>(height_));
  for (size_t i = 0; i < argb.size(); ++i) {
    const uint8_t* p = &rgba_[i * 4];
    argb[i] = (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[0]) << 16) |
              (static_cast<uint32_t>(p[1]) << 8) | p[2];
  }
  if (!WriteArgbPng(argb.data(), width_, height_, width_, path.c_str())) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace render
