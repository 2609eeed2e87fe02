// Small value types shared by the raster layer, the graphics core and the
// controls: rectangles, colours, text styles, image references, mouse
// modifiers, blend settings and key codes.
#pragma once

#include <cstdint>

class PIX_IBitmap;
class PIX_CachedFont;

// An integer rectangle in editor pixels; right and bottom are exclusive.
// A rectangle is empty only when all four coordinates are 0.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  PixelRect() = default;
  PixelRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}

  bool Empty() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  // A rectangle that ends exactly where the other begins still overlaps it.
  bool Overlaps(const PixelRect& other) const {
    return right >= other.left && left < other.right && bottom >= other.top &&
           top < other.bottom;
  }
  bool Contains(int x, int y) const {
    return !Empty() && x >= left && x < right && y >= top && y < bottom;
  }
  bool operator==(const PixelRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const PixelRect& o) const { return !(*this == o); }
};

// Straight (not premultiplied) 8-bit colour channels.
struct ArgbColor {
  int A = 255;
  int R = 0;
  int G = 0;
  int B = 0;

  ArgbColor() = default;
  ArgbColor(int a, int r, int g, int b) : A(a), R(r), G(g), B(b) {}
  uint32_t ToPixel() const {
    return (static_cast<uint32_t>(A & 255) << 24) | (static_cast<uint32_t>(R & 255) << 16) |
           (static_cast<uint32_t>(G & 255) << 8) | static_cast<uint32_t>(B & 255);
  }
};

enum TextStyleKind { TextNormal = 0, TextBold = 1, TextItalic = 2 };
enum TextAlign { AlignLeft = 0, AlignCentre = 1, AlignRight = 2 };
enum TextQuality {
  QualityDefault = 0,
  QualityNoAntialias = 1,
  QualityAntialiased = 2,
  QualityClearType = 3
};

// How a piece of text is drawn. Carries the font found for it once drawn.
struct TextStyle {
  static constexpr int kFontNameSize = 32;  // 31 characters + terminator

  char fontName[kFontNameSize] = "Verdana";
  int size = 12;  // character height in pixels
  ArgbColor colour{255, 0, 0, 0};
  ArgbColor entryBackgroundColour{255, 255, 255, 255};
  ArgbColor entryTextColour{255, 0, 0, 0};
  int style = TextNormal;
  int alignment = AlignCentre;
  int orientation = 0;  // degrees
  int quality = QualityDefault;
  PIX_CachedFont* cachedFont = nullptr;  // lives in the font cache, not owned

  TextStyle() = default;
  TextStyle(const char* name, int textSize, ArgbColor textColour, int textStyle = TextNormal,
            int align = AlignCentre);
  void SetFontName(const char* name);
};

// A loaded editor image. The bitmap lives in the process-wide image cache.
// Frames of a filmstrip are equal slices, stacked top to bottom unless
// framesSideBySide is set.
struct BitmapRef {
  PIX_IBitmap* bitmap = nullptr;
  int width = 0;
  int height = 0;
  int frameCount = 1;
  bool framesSideBySide = false;

  int FrameWidth() const {
    return framesSideBySide && frameCount > 0 ? width / frameCount : width;
  }
  int FrameHeight() const {
    return !framesSideBySide && frameCount > 0 ? height / frameCount : height;
  }
};

struct MouseMods {
  bool left = false;
  bool right = false;
  bool shift = false;
  bool control = false;
  bool alt = false;
};

enum BlendMethod { BlendNormal = 0, BlendReplace = 1, BlendAdd = 2, BlendColourDodge = 3 };

struct ChannelBlend {
  int method = BlendNormal;
  float weight = 1.0f;

  ChannelBlend() = default;
  explicit ChannelBlend(int blendMethod, float blendWeight = 1.0f)
      : method(blendMethod), weight(blendWeight) {}
};

enum KeyCode {
  KeySpace = 0,
  KeyUp = 1,
  KeyDown = 2,
  KeyLeft = 3,
  KeyRight = 4,
  KeyDigit0 = 5,   // .. KeyDigit0 + 9
  KeyA = 15,       // .. KeyA + 25
};
