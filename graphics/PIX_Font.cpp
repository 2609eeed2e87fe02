#include "PIX_Font.h"

#include <algorithm>
#include <cstring>

#include "PIX_Bitmap.h"

int DecodeUtf8(const char* text, int length, std::vector<uint32_t>* codes) {
  codes->clear();
  if (!text) return 0;
  if (length < 0) length = static_cast<int>(std::strlen(text));
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::vector<uint32_t> decoded;
  decoded.reserve(static_cast<size_t>(length));
  bool valid = true;
  for (int i = 0; i < length && valid;) {
    unsigned char c = s[i];
    int extra = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      valid = false;
      break;
    }
    if (i + extra >= length + (extra ? 0 : 1)) {
      valid = false;
      break;
    }
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    if (!valid) break;
    decoded.push_back(code);
    i += extra + 1;
  }
  if (valid) {
    *codes = std::move(decoded);
  } else {
    for (int i = 0; i < length; ++i) codes->push_back(s[i]);
  }
  return static_cast<int>(codes->size());
}

void PIX_CachedFont::SetFromHandle(std::unique_ptr<GlyphRasterizer> handle, int flags) {
  if (handle.get() != handle_.get()) handle_ = std::move(handle);
  flags_ = flags;
  lineHeight_ = handle_ ? handle_->LineHeight() : 0;
  for (auto& g : table_) g = Glyph();
  extended_.clear();
  data_.clear();
  if (flags_ & FontRenderAsciiAtOnce)
    for (uint32_t c = 0; c < 128; ++c) FindGlyph(c);
}

uint32_t PIX_CachedFont::SetTextColour(uint32_t pixel) {
  uint32_t old = textColour_;
  textColour_ = pixel;
  return old;
}
uint32_t PIX_CachedFont::SetBackgroundColour(uint32_t pixel) {
  uint32_t old = backgroundColour_;
  backgroundColour_ = pixel;
  return old;
}
uint32_t PIX_CachedFont::SetEffectColour(uint32_t pixel) {
  uint32_t old = effectColour_;
  effectColour_ = pixel;
  return old;
}
int PIX_CachedFont::SetBackgroundMode(int mode) {
  int old = backgroundMode_;
  backgroundMode_ = mode;
  return old;
}
void PIX_CachedFont::SetCombineMode(int mode, float weight) {
  combineMode_ = mode;
  combineWeight_ = weight;
}

bool PIX_CachedFont::Rasterize(Glyph* glyph) {
  // Very tall fonts are not cached: such a glyph is drawn as nothing.
  if (!handle_ || lineHeight_ > 1023) return false;
  GlyphImage image;
  if (!handle_->Render(glyph->code, &image)) return false;
  glyph->advance = image.advance;
  glyph->height = image.height;
  // Trim columns without ink on both sides.
  int first = image.width, last = -1;
  for (int x = 0; x < image.width; ++x) {
    for (int y = 0; y < image.height; ++y) {
      if (image.coverage[static_cast<size_t>(y) * image.width + x]) {
        first = std::min(first, x);
        last = std::max(last, x);
        break;
      }
    }
  }
  if (last < first) {
    glyph->dataPosition = -1;
    glyph->width = 0;
    glyph->left = 0;
    return true;
  }
  glyph->width = last - first + 1;
  glyph->left = image.left + first;
  glyph->dataPosition = static_cast<int>(data_.size()) + 1;
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = image.coverage.data() + static_cast<size_t>(y) * image.width + first;
    data_.insert(data_.end(), row, row + glyph->width);
  }
  return true;
}

const PIX_CachedFont::Glyph* PIX_CachedFont::FindGlyph(uint32_t code) {
  if (code < 128) {
    Glyph& g = table_[code];
    if (g.dataPosition == 0) {
      g.code = code;
      if (!Rasterize(&g)) {
        g = Glyph();
        return nullptr;
      }
    }
    return &g;
  }
  auto it = std::lower_bound(extended_.begin(), extended_.end(), code,
                             [](const Glyph& g, uint32_t c) { return g.code < c; });
  if (it != extended_.end() && it->code == code) return &*it;
  Glyph g;
  g.code = code;
  if (!Rasterize(&g)) return nullptr;
  it = extended_.insert(it, g);  // keeps the list sorted
  return &*it;
}

void PIX_CachedFont::BlendGlyph(PIX_IBitmap* bitmap, const Glyph& glyph, int x, int y,
                                const PixelRect& clip, int w) {
  if (glyph.dataPosition <= 0 || glyph.width <= 0) return;
  const int B = static_cast<int>(textColour_ & 255);
  const int G = static_cast<int>((textColour_ >> 8) & 255);
  const int R = static_cast<int>((textColour_ >> 16) & 255);
  const uint8_t* mask = data_.data() + glyph.dataPosition - 1;
  int x0 = std::max(x, clip.left), x1 = std::min(x + glyph.width, clip.right);
  int y0 = std::max(y, clip.top), y1 = std::min(y + glyph.height, clip.bottom);
  for (int py = y0; py < y1; ++py) {
    uint32_t* row = bitmap->Row(py);
    const uint8_t* m = mask + static_cast<size_t>(py - y) * glyph.width - x;
    for (int px = x0; px < x1; ++px) {
      int c = m[px];
      if (c <= 0) continue;
      uint32_t d = row[px];
      int dB = static_cast<int>(d & 255), dG = static_cast<int>((d >> 8) & 255);
      int dR = static_cast<int>((d >> 16) & 255), dA = static_cast<int>(d >> 24);
      int f;
      if (w == 256) {
        f = 255 - c;
      } else {
        f = (w * c < 65792) ? 256 - w * c / 256 : 0;
      }
      int nB = B + (dB - B) * f / 256;
      int nG = G + (dG - G) * f / 256;
      int nR = R + (dR - R) * f / 256;
      // Alpha accumulates toward opaque; stored as a byte.
      int nA = (dA - 255) * f / 256 - 1;
      row[px] = (static_cast<uint32_t>(nA & 255) << 24) | (static_cast<uint32_t>(nR & 255) << 16) |
                (static_cast<uint32_t>(nG & 255) << 8) | static_cast<uint32_t>(nB & 255);
    }
  }
}

bool PIX_CachedFont::DrawGlyph(PIX_IBitmap* bitmap, uint32_t code, int x, int y,
                               const PixelRect& clip) {
  if (!bitmap || !bitmap->PixelData()) return false;
  const Glyph* glyph = FindGlyph(code);
  if (!glyph) return false;
  BlendGlyph(bitmap, *glyph, x + glyph->left, y, clip, weightForDraw_);
  return true;
}

int PIX_CachedFont::LineAdvance(const uint32_t* codes, int count) {
  int width = 0;
  for (int i = 0; i < count; ++i) {
    if (codes[i] == '\r') continue;
    const Glyph* g = FindGlyph(codes[i]);
    if (g) width += g->advance;
  }
  return width;
}

int PIX_CachedFont::DrawTextInto(PIX_IBitmap* bitmap, const char* text, int length,
                                 PixelRect* rect, int format, const PixelRect* clip) {
  if (!text || !rect || !handle_) return 0;
  // The platform draws the text itself where it prefers to (GDI on Windows);
  // translucent colours and multi-line spacing stay with the glyph cache.
  if (!(format & (TextFormatCalcRect | TextFormatUseColourAlpha)) &&
      (flags_ & FontPreferNative) && (flags_ & FontOwnsHandle) &&
      (extraLineSpacing_ == 0 || (format & TextFormatSingleLine)) &&
      handle_->DrawNative(bitmap, text, length, *rect, format, clip, textColour_, backgroundMode_,
                          backgroundColour_))
    return lineHeight_;
  std::vector<uint32_t> codes;
  DecodeUtf8(text, length, &codes);

  // Split into lines; a single-line format keeps everything on one.
  struct Line {
    int first, count, width;
  };
  std::vector<Line> lines;
  int start = 0;
  for (int i = 0; i <= static_cast<int>(codes.size()); ++i) {
    bool end = i == static_cast<int>(codes.size());
    if (end || (codes[i] == '\n' && !(format & TextFormatSingleLine))) {
      lines.push_back({start, i - start, LineAdvance(codes.data() + start, i - start)});
      start = i + 1;
    }
  }
  const int step = lineHeight_ + extraLineSpacing_;
  const int textHeight = static_cast<int>(lines.size()) * step - extraLineSpacing_;
  int textWidth = 0;
  for (const Line& l : lines) textWidth = std::max(textWidth, l.width);

  if (format & TextFormatCalcRect) {
    rect->right = rect->left + textWidth;
    rect->bottom = rect->top + textHeight;
    return textHeight;
  }
  if (!bitmap || !bitmap->PixelData()) return 0;

  PixelRect area(0, 0, bitmap->Width(), bitmap->Height());
  auto intersect = [](PixelRect a, const PixelRect& b) {
    return PixelRect(std::max(a.left, b.left), std::max(a.top, b.top),
                     std::min(a.right, b.right), std::min(a.bottom, b.bottom));
  };
  if (clip) area = intersect(area, *clip);
  if (!(format & TextFormatNoClip)) area = intersect(area, *rect);
  if (area.right <= area.left || area.bottom <= area.top) return textHeight;

  float weight = combineWeight_;
  if (format & TextFormatUseColourAlpha) weight *= static_cast<float>(textColour_ >> 24) / 255.0f;
  weightForDraw_ = static_cast<int>(std::min(std::max(weight, 0.0f), 1.0f) * 256.0f);

  int y = rect->top;
  if (format & TextFormatVCentre)
    y = rect->top + (rect->Height() - textHeight) / 2;
  else if (format & TextFormatBottom)
    y = rect->bottom - textHeight;
  for (const Line& line : lines) {
    int x = rect->left;
    if (format & TextFormatCentre)
      x = rect->left + (rect->Width() - line.width) / 2;
    else if (format & TextFormatRight)
      x = rect->right - line.width;
    for (int i = line.first; i < line.first + line.count; ++i) {
      if (codes[i] == '\r') continue;
      const Glyph* g = FindGlyph(codes[i]);
      if (!g) continue;
      BlendGlyph(bitmap, *g, x + g->left, y, area, weightForDraw_);
      x += g->advance;
    }
    y += step;
  }
  return textHeight;
}
