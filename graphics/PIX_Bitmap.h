// The editor's raster layer: 32-bit pixel bitmaps and the blit through which
// every editor image reaches the back buffer.
//
// Pixel format: one uint32_t 0xAARRGGBB per pixel (memory order B, G, R, A),
// straight colour, not premultiplied. Rows are RowSpan() pixels apart, top row
// first unless IsBottomUp().
//
// Threads: bitmaps have no lock. Decoded images are shared read-only by every
// editor of the process; the back buffer belongs to one editor and is only
// touched on the user-interface thread.
#pragma once

#include <cstdint>

#include "GraphicsTypes.h"

class PIX_IBitmap {
 public:
  virtual ~PIX_IBitmap() = default;
  // First pixel of the top row; null while the bitmap is empty.
  virtual uint32_t* PixelData() = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int RowSpan() const = 0;
  virtual bool IsBottomUp() const { return false; }
  // True when the size changed. On allocation failure the bitmap is empty.
  virtual bool Resize(int width, int height) = 0;
  // The platform drawing context the pixels are selected into, or null.
  virtual void* NativeContext() { return nullptr; }
  virtual int ExtendedQuery(int /*id*/, void* /*data*/) { return 0; }

  const uint32_t* PixelData() const { return const_cast<PIX_IBitmap*>(this)->PixelData(); }
  // Pixel at (x, y), counted from the visual top row; no bounds check.
  uint32_t* Row(int y);
};

// Pixels in ordinary heap memory, rows padded to a multiple of 4 pixels and
// the first pixel aligned to 64 bytes.
class PIX_MemBitmap : public PIX_IBitmap {
 public:
  PIX_MemBitmap() = default;
  ~PIX_MemBitmap() override;
  PIX_MemBitmap(const PIX_MemBitmap&) = delete;
  PIX_MemBitmap& operator=(const PIX_MemBitmap&) = delete;

  uint32_t* PixelData() override;
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int RowSpan() const override { return (width_ + 3) & ~3; }
  bool Resize(int width, int height) override;
  int AllocatedBytes() const { return allocatedBytes_; }

 private:
  void* raw_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int allocatedBytes_ = 0;
};

// The bitmap the editor composes into and copies to the screen. On Windows a
// DIB section selected into a memory device context; elsewhere a plain
// top-down 32-bit buffer with the same resize rules: shrinking keeps the
// allocation and its larger row span.
class PIX_SysBitmap : public PIX_IBitmap {
 public:
  PIX_SysBitmap();
  ~PIX_SysBitmap() override;
  PIX_SysBitmap(const PIX_SysBitmap&) = delete;
  PIX_SysBitmap& operator=(const PIX_SysBitmap&) = delete;

  uint32_t* PixelData() override { return pixels_; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int RowSpan() const override { return allocatedWidth_; }
  bool Resize(int width, int height) override;
  void* NativeContext() override { return context_; }

 private:
  void ReleasePixels();

  int width_ = 0;
  int height_ = 0;
  void* context_ = nullptr;  // HDC on Windows; the object itself elsewhere
  uint32_t* pixels_ = nullptr;
  int allocatedWidth_ = 0;
  int allocatedHeight_ = 0;
  void* dib_ = nullptr;          // HBITMAP on Windows
  void* previousBitmap_ = nullptr;
};

enum BlitMode : int {
  BlitCopy = 0x00000,
  BlitAdd = 0x00001,
  BlitDodge = 0x00002,
  BlitUseSourceAlpha = 0x10000,
};

// Draws srcRect of src (null: all of it) into dest with its top-left corner at
// (destX, destY), clipped to both bitmaps. weight is an opacity 0..1; mode a
// BlitMode operator, optionally with BlitUseSourceAlpha.
void BlitImage(PIX_IBitmap* dest, PIX_IBitmap* src, int destX, int destY,
               const PixelRect* srcRect, float weight, int mode);

// Fills a rectangle of dest with one pixel value, combined like BlitImage.
void FillPixelRect(PIX_IBitmap* dest, int x, int y, int width, int height, uint32_t colour,
                   float weight, int mode);

// A new width x height bitmap from srcRect of src: each pixel the average of
// the source area it covers where the picture shrinks, interpolated where it
// grows, an exact copy at the same size. Null for a rectangle outside src or
// a failed allocation.
PIX_MemBitmap* ResampleBitmap(PIX_IBitmap* src, const PixelRect& srcRect, int width, int height);
