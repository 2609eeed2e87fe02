// The tools' one drawing canvas: a small anti-aliased software canvas on
// which kestrune-imagegen draws the editor's images and kestrune-render its
// level plot. Shapes are given as signed distance functions, so every edge
// gets exact coverage; the editor images' text comes from FreeType at
// fractional sizes (CanvasLabel.h draws the plot's labels with the graphics
// library's glyph rasterizer). Colours are straight RGBA in 0..1 and are
// stored premultiplied while compositing.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Rgba {
  float r = 0, g = 0, b = 0, a = 1;
};

Rgba Hex(unsigned rgb, float alpha = 1.0f);
Rgba Mix(const Rgba& x, const Rgba& y, float t);

// A canvas drawn at an integer scale takes every coordinate, size and
// distance in design units (1x pixels) and holds scale x scale pixels for each:
// the same shapes come out sharp at 2x and 3x.
class Canvas {
 public:
  Canvas(int width, int height, int scale = 1);
  // In pixels of the canvas (the design size times the scale).
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Scale() const { return scale_; }

  // Paints colour(x, y) over every pixel whose centre lies inside the shape
  // given by its signed distance (negative inside), anti-aliased over one
  // pixel, within the box [x0, x1) x [y0, y1).
  void Fill(float x0, float y0, float x1, float y1,
            const std::function<float(float, float)>& distance,
            const std::function<Rgba(float, float)>& colour);
  void Fill(float x0, float y0, float x1, float y1,
            const std::function<float(float, float)>& distance, const Rgba& colour);
  // A soft shadow: alpha falls off over `softness` pixels outside the shape.
  void Shadow(float x0, float y0, float x1, float y1,
              const std::function<float(float, float)>& distance, float softness,
              float alpha);
  // Blends a coverage-weighted colour into one pixel (pixel coordinates).
  void Blend(int x, int y, const Rgba& colour, float coverage);
  // Blends `colour` with coverage(x, y) into every pixel of the box.
  void Wash(float x0, float y0, float x1, float y1,
            const std::function<float(float, float)>& coverage, const Rgba& colour);
  // Draws text with its baseline at y; align 0 left, 1 centre, 2 right of x.
  // Returns the advance width.
  float Text(const std::string& text, float x, float y, float size, bool bold, const Rgba& colour,
             int align = 0, float letterSpacing = 0.0f);
  float TextWidth(const std::string& text, float size, bool bold, float letterSpacing = 0.0f);
  // Covers the whole pixels [x0, x1) x [y0, y1) with `colour` (pixel coordinates).
  void FillRect(int x0, int y0, int x1, int y1, const Rgba& colour);
  // A line `thickness` pixels wide between two points, with soft edges.
  void Line(float x0, float y0, float x1, float y1, const Rgba& colour, float thickness = 1.0f);
  // The straight colour of one pixel (pixel coordinates); transparent outside.
  Rgba Pixel(int x, int y) const;
  // Straight ARGB pixels, 0xAARRGGBB.
  std::vector<unsigned> Pixels() const;
  // The picture as an 8-bit RGBA PNG at exactly `path`, at zlib's level
  // `compressionLevel` (0..9).
  bool WritePng(const std::string& path, int compressionLevel = 9) const;
  // Pastes a canvas of the same scale with its corner at design (x, y).
  void Paste(const Canvas& other, int x, int y);

 private:
  // The box [x0, x1) x [y0, y1) in design units as pixel bounds.
  void PixelBox(float x0, float y0, float x1, float y1, int* ix0, int* iy0, int* ix1,
                int* iy1) const;

  int width_, height_, scale_;
  std::vector<float> data_;  // premultiplied r, g, b, a
};

// Signed distance helpers (negative inside).
float CircleDistance(float x, float y, float cx, float cy, float r);
float RoundRectDistance(float x, float y, float x0, float y0, float x1, float y1, float radius);
float SegmentDistance(float x, float y, float ax, float ay, float bx, float by, float halfWidth);

// Writes ARGB pixels as an 8-bit RGBA PNG.
bool WritePng(const std::string& path, int width, int height, const std::vector<unsigned>& pixels,
              int compressionLevel = 9);
