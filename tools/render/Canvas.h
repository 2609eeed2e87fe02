// Canvas: an RGBA picture with the few drawing operations kestrune-render's
// level plot needs (filled rectangles, anti-aliased lines, bitmap-font text)
// and a PNG writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {

struct Color {
  uint8_t r = 0, g = 0, b = 0, a = 255;
};

class Canvas {
 public:
  Canvas(int width, int height, Color background);

  int Width() const { return width_; }
  int Height() const { return height_; }
  Color Pixel(int x, int y) const;

  // Mixes `color` into one pixel with coverage 0..1; outside pixels are ignored.
  void Blend(int x, int y, Color color, double coverage);
  void FillRect(int left, int top, int right, int bottom, Color color);  // right/bottom exclusive
  // A line of `thickness` pixels between two points, with soft edges.
  void Line(double x0, double y0, double x1, double y1, Color color, double thickness = 1.0);
  // Text with its top-left corner at (x, y); `scale` whole pixels per font pixel.
  void Text(int x, int y, const std::string& text, Color color, int scale = 1);
  // Text turned a quarter turn anticlockwise (reads bottom to top); (x, y)
  // is the top-left corner of the turned text.
  void TextUp(int x, int y, const std::string& text, Color color, int scale = 1);
  static int TextWidth(const std::string& text, int scale = 1);
  static int TextHeight(int scale = 1);

  // Writes the picture as 8-bit RGBA PNG to exactly `path` (callers write to
  // a pending name and rename, see PendingFile.h).
  bool WritePng(const std::string& path, std::string& error) const;

  // Copies 0xAARRGGBB pixels (row by row) over the canvas.
  void CopyArgb(const uint32_t* pixels, int width, int height, int stride);

 private:
  int width_;
  int height_;
  std::vector<uint8_t> rgba_;
};

}  // namespace render
