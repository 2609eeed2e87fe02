// PNG decoding and encoding with libpng.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

struct MemoryReader {
  const unsigned char* data;
  size_t remaining;
};

// Each request is zero-filled first, so reading past the end yields zeros
// (which then fail the chunk checks) instead of reading outside the buffer.
void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  std::memset(out, 0, count);
  size_t n = count < reader->remaining ? count : reader->remaining;
  if (n) {
    std::memcpy(out, reader->data, n);
    reader->data += n;
    reader->remaining -= n;
  }
}

void QuietWarning(png_structp, png_const_charp) {}

// Damaged images are expected input: fail quietly back to the caller.
[[noreturn]] void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

}  // namespace

bool PngDecoderAvailable() { return true; }

PIX_MemBitmap* LoadPngFromMemory(const unsigned char* data, size_t length) {
  static const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || length <= 7 || std::memcmp(data, kSignature, 8) != 0) return nullptr;

  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
  if (!png) return nullptr;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return nullptr;
  }
  // Declared before setjmp and only assigned afterwards through volatile
  // pointers, so a decoding error can free them.
  PIX_MemBitmap* volatile bitmap = nullptr;
  std::vector<png_bytep>* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    delete bitmap;
    delete rows;
    png_destroy_read_struct(&png, &info, nullptr);
    return nullptr;
  }

  MemoryReader reader{data, length};
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
  if (width == 0 || height == 0 || width > static_cast<png_uint_32>(kMaxImageSide) ||
      height > static_cast<png_uint_32>(kMaxImageSide) ||
      static_cast<long long>(width) * height > kMaxImagePixels)
    png_error(png, "image too large");

  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0;
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    hasAlpha = true;
  }
  if (bitDepth == 16) png_set_strip_16(png);
  if (bitDepth < 8) png_set_packing(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(png);
  if (hasAlpha)
    png_set_swap_alpha(png);  // RGBA -> ARGB
  else
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);  // RGB -> ARGB with A = 255
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) png_error(png, "layout");

  bitmap = new PIX_MemBitmap;
  bitmap->Resize(static_cast<int>(width), static_cast<int>(height));
  if (bitmap->Width() != static_cast<int>(width) || bitmap->Height() != static_cast<int>(height))
    png_error(png, "out of memory");

  rows = new std::vector<png_bytep>(height);
  for (png_uint_32 y = 0; y < height; ++y)
    (*rows)[y] = reinterpret_cast<png_bytep>(bitmap->Row(static_cast<int>(y)));
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);

  // Bytes A, R, G, B in memory become the packed value 0xAARRGGBB.
  for (png_uint_32 y = 0; y < height; ++y) {
    uint32_t* row = bitmap->Row(static_cast<int>(y));
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(row);
    for (png_uint_32 x = 0; x < width; ++x) {
      const unsigned char* p = bytes + x * 4;
      row[x] = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | p[3];
    }
  }
  PIX_MemBitmap* result = bitmap;
  delete rows;
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

bool WriteBitmapPng(PIX_IBitmap* bitmap, const char* path) {
  if (!bitmap || !bitmap->PixelData()) return false;
  return WriteArgbPng(bitmap->Row(0), bitmap->Width(), bitmap->Height(), bitmap->RowSpan(), path, 6);
}

bool WriteArgbPng(const uint32_t* pixels, int width, int height, int rowSpan, const char* path,
                  int compressionLevel) {
  if (!pixels || !path || width <= 0 || height <= 0 || rowSpan < width) return false;
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  std::vector<unsigned char>* volatile row = new std::vector<unsigned char>(width * 4);
  if (setjmp(png_jmpbuf(png))) {
    delete row;
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, compressionLevel < 0 ? 0 : compressionLevel > 9 ? 9 : compressionLevel);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const uint32_t* src = pixels + static_cast<size_t>(y) * static_cast<size_t>(rowSpan);
    unsigned char* out = row->data();
    for (int x = 0; x < width; ++x) {
      uint32_t p = src[x];
      out[x * 4 + 0] = static_cast<unsigned char>(p >> 16);
      out[x * 4 + 1] = static_cast<unsigned char>(p >> 8);
      out[x * 4 + 2] = static_cast<unsigned char>(p);
      out[x * 4 + 3] = static_cast<unsigned char>(p >> 24);
    }
    png_write_row(png, row->data());
  }
  png_write_end(png, nullptr);
  delete row;
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}
