// Text drawing into bitmaps.
//
// PIX_CachedFont keeps a glyph cache: each character is rasterized once (by
// the platform's GlyphRasterizer) into an 8-bit coverage mask and blended
// into the target pixels with integer arithmetic on every later draw. Fonts
// are created by the graphics core's font cache, shared by every editor of
// the process and used only on user-interface threads; nothing here locks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "GlyphRasterizer.h"
#include "GraphicsTypes.h"

class PIX_IBitmap;

// Format bits, as the Windows DrawText flags.
enum TextFormat : int {
  TextFormatCentre = 0x1,
  TextFormatRight = 0x2,
  TextFormatVCentre = 0x4,
  TextFormatBottom = 0x8,
  TextFormatSingleLine = 0x20,
  TextFormatNoClip = 0x100,
  TextFormatCalcRect = 0x400,
  TextFormatUseColourAlpha = 0x40000000,
};

// Font flags.
enum FontFlags : int {
  FontRenderAsciiAtOnce = 0x4,
  FontOwnsHandle = 0x200,
  FontPreferNative = 0x400,
};

class PIX_IFont {
 public:
  virtual ~PIX_IFont() = default;
  // Takes the rasterizer ("font handle"); flags as FontFlags.
  virtual void SetFromHandle(std::unique_ptr<GlyphRasterizer> handle, int flags) = 0;
  virtual uint32_t SetTextColour(uint32_t pixel) = 0;
  virtual uint32_t SetBackgroundColour(uint32_t pixel) = 0;
  virtual uint32_t SetEffectColour(uint32_t pixel) = 0;
  virtual int SetBackgroundMode(int mode) = 0;
  virtual void SetCombineMode(int mode, float weight) = 0;
  // Draws `length` bytes of UTF-8 (negative: up to the terminator) into
  // `rect` by the format bits, clipped to `clip` (null: the bitmap) unless
  // the format has no clip. With TextFormatCalcRect the rectangle becomes
  // the text's extent and nothing is drawn. Returns the text height.
  virtual int DrawTextInto(PIX_IBitmap* bitmap, const char* text, int length, PixelRect* rect,
                           int format, const PixelRect* clip = nullptr) = 0;
  virtual uint32_t TextColour() const = 0;
  virtual GlyphRasterizer* FontHandle() const = 0;
  virtual int LineHeight() const = 0;
};

class PIX_CachedFont : public PIX_IFont {
 public:
  struct Glyph {
    int dataPosition = 0;  // 1-based offset into the glyph data; -1 without ink; 0 not rendered
    int width = 0;
    int height = 0;
    int advance = 0;
    uint32_t code = 0;
    int left = 0;
  };

  PIX_CachedFont() = default;
  ~PIX_CachedFont() override = default;

  void SetFromHandle(std::unique_ptr<GlyphRasterizer> handle, int flags) override;
  uint32_t SetTextColour(uint32_t pixel) override;
  uint32_t SetBackgroundColour(uint32_t pixel) override;
  uint32_t SetEffectColour(uint32_t pixel) override;
  int SetBackgroundMode(int mode) override;
  void SetCombineMode(int mode, float weight) override;
  int DrawTextInto(PIX_IBitmap* bitmap, const char* text, int length, PixelRect* rect,
                   int format, const PixelRect* clip = nullptr) override;
  uint32_t TextColour() const override { return textColour_; }
  GlyphRasterizer* FontHandle() const override { return handle_.get(); }
  int LineHeight() const override { return lineHeight_; }

  // Blends one glyph with its pen position at (x, y) (y = line top).
  virtual bool DrawGlyph(PIX_IBitmap* bitmap, uint32_t code, int x, int y, const PixelRect& clip);

  // The glyph for a character, rasterized on first use; null when the
  // character cannot be rendered.
  const Glyph* FindGlyph(uint32_t code);
  size_t ExtendedGlyphCount() const { return extended_.size(); }

 private:
  bool Rasterize(Glyph* glyph);
  void BlendGlyph(PIX_IBitmap* bitmap, const Glyph& glyph, int x, int y, const PixelRect& clip,
                  int weight256);
  int LineAdvance(const uint32_t* codes, int count);

  uint32_t textColour_ = 0;
  uint32_t backgroundColour_ = 0xFFFFFFFF;
  uint32_t effectColour_ = 0xFFFFFFFF;
  int backgroundMode_ = 1;
  int combineMode_ = 0;
  float combineWeight_ = 1.0f;
  int flags_ = 0;
  int lineHeight_ = 0;
  int extraLineSpacing_ = 0;
  Glyph table_[128];
  std::vector<Glyph> extended_;  // sorted by code
  std::vector<uint8_t> data_;
  std::unique_ptr<GlyphRasterizer> handle_;
  int weightForDraw_ = 256;
};

// Decodes UTF-8 into code points. Invalid input falls back to one code per
// byte. Returns the number of codes written.
int DecodeUtf8(const char* text, int length, std::vector<uint32_t>* codes);
