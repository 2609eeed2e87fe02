// The image-decoder seam: PNG bytes in memory to a bitmap, and (where libpng
// is available) a bitmap back to a PNG file.
#pragma once

#include <cstddef>
#include <cstdint>

class PIX_IBitmap;
class PIX_MemBitmap;

// Largest image side and pixel count the decoder accepts. A header claiming
// more is refused before any pixel memory is allocated.
constexpr int kMaxImageSide = 16384;
constexpr long long kMaxImagePixels = 64LL * 1024 * 1024;

// Decodes a complete PNG file image into a new bitmap with straight ARGB
// pixels; null on any failure. The caller owns the result.
PIX_MemBitmap* LoadPngFromMemory(const unsigned char* data, size_t length);

// True when this build can decode PNG images at all.
bool PngDecoderAvailable();

// Writes the visible part of a bitmap to an 8-bit RGBA PNG file, at zlib's
// default level (9 took ten times as long for 4 % fewer bytes). False when
// the file cannot be written or this build has no encoder.
bool WriteBitmapPng(PIX_IBitmap* bitmap, const char* path);

// The same for straight 0xAARRGGBB pixels, `rowSpan` pixels from one row to
// the next (the tools' own canvases write through this). libpng builds only.
// zlib's level 0..9: the build's own intermediate images take a fast one.
bool WriteArgbPng(const uint32_t* pixels, int width, int height, int rowSpan, const char* path,
                  int compressionLevel = 9);
