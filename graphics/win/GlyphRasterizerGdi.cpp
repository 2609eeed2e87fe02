// Text on Windows through GDI: fonts from CreateFontA, glyphs rasterized by
// DrawTextW into a scratch DIB for the glyph cache, and native drawing with
// DrawTextW/DrawTextA straight into the back buffer's device context.
//
// Under Wine (the registry key HKLM\Software\Wine exists) the glyph cache
// draws instead, with its glyphs still rasterized by GDI.
#include <windows.h>

#include <cstring>
#include <vector>

#include "GlyphRasterizer.h"
#include "PIX_Bitmap.h"
#include "WinPlatform.h"

namespace {

// UTF-16 of one code point; returns the unit count (0 for an invalid code).
int ToUtf16(uint32_t code, wchar_t* out) {
  if (code < 0x10000) {
    if (code >= 0xD800 && code < 0xE000) return 0;
    out[0] = static_cast<wchar_t>(code);
    return 1;
  }
  if (code > 0x10FFFF) return 0;
  code -= 0x10000;
  out[0] = static_cast<wchar_t>(0xD800 + (code >> 10));
  out[1] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
  return 2;
}

class GdiGlyphRasterizer : public GlyphRasterizer {
 public:
  explicit GdiGlyphRasterizer(HFONT font) : font_(font) {
    // The scratch bitmap's context measures the font (white on black, opaque).
    scratch_.Resize(256, 256);
    HDC dc = Context();
    if (dc) {
      HGDIOBJ previous = SelectObject(dc, font_);
      TEXTMETRICA metrics;
      if (GetTextMetricsA(dc, &metrics)) {
        lineHeight_ = metrics.tmHeight;
        ascent_ = metrics.tmAscent;
      }
      SelectObject(dc, previous);
    }
  }
  ~GdiGlyphRasterizer() override {
    if (font_) DeleteObject(font_);
  }
  GdiGlyphRasterizer(const GdiGlyphRasterizer&) = delete;
  GdiGlyphRasterizer& operator=(const GdiGlyphRasterizer&) = delete;

  bool Valid() const { return Context() && lineHeight_ > 0; }
  int LineHeight() const override { return lineHeight_; }
  int Ascent() const override { return ascent_; }

  bool Render(uint32_t code, GlyphImage* out) override {
    if (!out || lineHeight_ > 1023) return false;
    wchar_t units[2];
    int count = ToUtf16(code, units);
    if (count == 0) return false;
    const int side = lineHeight_ * 2 + 8;
    if (scratch_.Width() < side || scratch_.Height() < side) scratch_.Resize(side, side);
    HDC dc = Context();
    if (!dc || !scratch_.PixelData()) return false;
    const int margin = lineHeight_ < 16 ? 2 : lineHeight_ / 16 + 2;

    HGDIOBJ previous = SelectObject(dc, font_);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, OPAQUE);
    RECT extent = {0, 0, 0, 0};
    DrawTextW(dc, units, count, &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int advance = extent.right - extent.left;
    const int width = advance + 2 * margin;
    const int height = lineHeight_;
    if (width > scratch_.Width()) scratch_.Resize(width, scratch_.Height());
    if (!scratch_.PixelData() || width > scratch_.Width() || height > scratch_.Height()) {
      SelectObject(dc, previous);
      return false;
    }
    GdiFlush();
    for (int y = 0; y < height; ++y) std::memset(scratch_.Row(y), 0, static_cast<size_t>(width) * 4);
    RECT area = {margin, 0, margin + advance, height};
    DrawTextW(dc, units, count, &area, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    GdiFlush();
    SelectObject(dc, previous);

    out->width = width;
    out->height = height;
    out->left = -margin;
    out->advance = advance;
    out->coverage.assign(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
      const uint32_t* row = scratch_.Row(y);
      for (int x = 0; x < width; ++x)
        out->coverage[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(row[x] >> 16);
    }
    return true;
  }

  bool DrawNative(PIX_IBitmap* bitmap, const char* text, int length, const PixelRect& rect,
                  int format, const PixelRect* clip, uint32_t textColour, int backgroundMode,
                  uint32_t backgroundColour) override {
    // Very tall fonts are never cached, so they draw natively even under Wine.
    if (RunningUnderWine() && lineHeight_ <= 255) return false;
    HDC dc = bitmap ? static_cast<HDC>(bitmap->NativeContext()) : nullptr;
    if (!dc || !text) return false;
    if (length < 0) length = static_cast<int>(std::strlen(text));

    bool multiByte = false;
    for (int i = 0; i < length && !multiByte; ++i)
      multiByte = static_cast<unsigned char>(text[i]) >= 0x80;
    wchar_t stackBuffer[1024];
    std::vector<wchar_t> heapBuffer;
    wchar_t* wide = nullptr;
    int wideLength = 0;
    if (multiByte) {
      wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
      if (wideLength > 0) {
        if (wideLength < 1000) {
          wide = stackBuffer;
        } else {
          heapBuffer.resize(static_cast<size_t>(wideLength));
          wide = heapBuffer.data();
        }
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, wide, wideLength) !=
            wideLength)
          wide = nullptr;  // invalid UTF-8: drawn byte by byte below
      }
    }

    const int saved = SaveDC(dc);
    if (clip && !(clip->left == 0 && clip->top == 0 && clip->right == 0 && clip->bottom == 0))
      IntersectClipRect(dc, clip->left, clip->top, clip->right, clip->bottom);
    SelectObject(dc, font_);
    SetTextColor(dc, RGB((textColour >> 16) & 255, (textColour >> 8) & 255, textColour & 255));
    SetBkMode(dc, backgroundMode == OPAQUE ? OPAQUE : TRANSPARENT);
    if (backgroundMode == OPAQUE)
      SetBkColor(dc, RGB((backgroundColour >> 16) & 255, (backgroundColour >> 8) & 255,
                         backgroundColour & 255));
    RECT r = {rect.left, rect.top, rect.right, rect.bottom};
    const UINT flags = static_cast<UINT>(format & 0x3FFFFFFF) | DT_NOPREFIX;
    if (wide)
      DrawTextW(dc, wide, wideLength, &r, flags);
    else
      DrawTextA(dc, text, length, &r, flags);
    RestoreDC(dc, saved);
    GdiFlush();
    return true;
  }

 private:
  HDC Context() const { return static_cast<HDC>(const_cast<PIX_SysBitmap&>(scratch_).NativeContext()); }

  HFONT font_;
  PIX_SysBitmap scratch_;
  int lineHeight_ = 0;
  int ascent_ = 0;
};

BYTE QualityFor(int quality) {
  switch (quality) {
    case QualityNoAntialias: return NONANTIALIASED_QUALITY;
    case QualityAntialiased: return ANTIALIASED_QUALITY;
    case QualityClearType: return CLEARTYPE_QUALITY;
    default: return DEFAULT_QUALITY;
  }
}

}  // namespace

bool RunningUnderWine() {
  // Tested once per process: 0 not yet, 1 no, 2 yes.
  static const int state = [] {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Wine", &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      return 2;
    }
    return 1;
  }();
  return state == 2;
}

std::unique_ptr<GlyphRasterizer> CreateGlyphRasterizer(const char* faceName, int cellHeight,
                                                       int style, int quality) {
  if (cellHeight <= 0) return nullptr;
  HFONT font = CreateFontA(cellHeight, 0, 0, 0, style == TextBold ? FW_BOLD : FW_NORMAL,
                           style == TextItalic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, QualityFor(quality),
                           DEFAULT_PITCH, faceName ? faceName : "");
  if (!font) return nullptr;
  auto rasterizer = std::make_unique<GdiGlyphRasterizer>(font);
  if (!rasterizer->Valid()) return nullptr;
  return rasterizer;
}
