// Decoding PNG images from memory: the kinds of image the decoder must turn
// into straight ARGB pixels, and the damaged inputs it must refuse.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

struct Encoded {
  std::vector<unsigned char> bytes;
};

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Encoded*>(png_get_io_ptr(png));
  out->bytes.insert(out->bytes.end(), data, data + length);
}

// Encodes rows of `channels` bytes per pixel with the given colour type.
std::vector<unsigned char> Encode(int width, int height, int colourType, int bitDepth,
                                  const std::vector<unsigned char>& pixels,
                                  const std::vector<png_color>& palette = {},
                                  const std::vector<unsigned char>& trns = {}) {
  Encoded out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, Append, nullptr);
  png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!trns.empty())
    png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
  png_write_info(png, info);
  size_t rowBytes = pixels.size() / height;
  for (int y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(pixels.data() + y * rowBytes));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out.bytes;
}

std::unique_ptr<PIX_MemBitmap> Decode(const std::vector<unsigned char>& bytes) {
  return std::unique_ptr<PIX_MemBitmap>(LoadPngFromMemory(bytes.data(), bytes.size()));
}

TEST(PngDecode, RgbaKeepsStraightColourAndAlpha) {
  auto bmp = Decode(Encode(2, 1, PNG_COLOR_TYPE_RGBA, 8, {10, 20, 30, 40, 250, 251, 252, 0}));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->Width(), 2);
  EXPECT_EQ(bmp->Row(0)[0], 0x280A141Eu);
  EXPECT_EQ(bmp->Row(0)[1], 0x00FAFBFCu);
}

TEST(PngDecode, RgbWithoutAlphaBecomesOpaque) {
  auto bmp = Decode(Encode(1, 2, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 200, 100, 50}));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->Row(0)[0], 0xFF010203u);
  EXPECT_EQ(bmp->Row(1)[0], 0xFFC86432u);
}

TEST(PngDecode, GreyPaletteAndSixteenBitImagesExpandToArgb) {
  auto grey = Decode(Encode(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {77, 128}));
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->Row(0)[0], 0x804D4D4Du);

  std::vector<png_color> palette = {{255, 0, 0}, {0, 0, 255}};
  auto indexed = Decode(Encode(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, palette, {255, 0}));
  ASSERT_TRUE(indexed);
  EXPECT_EQ(indexed->Row(0)[0], 0xFFFF0000u);
  EXPECT_EQ(indexed->Row(0)[1], 0x000000FFu);  // transparency chunk became alpha

  auto deep = Decode(Encode(1, 1, PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF}));
  ASSERT_TRUE(deep);
  EXPECT_EQ(deep->Row(0)[0], 0xFF12ABFFu);
}

TEST(PngDecode, TruncatedAndDamagedInputsAreRefused) {
  static const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_EQ(LoadPngFromMemory(kSignature, 7), nullptr);
  EXPECT_EQ(LoadPngFromMemory(kSignature, 8), nullptr);
  EXPECT_EQ(LoadPngFromMemory(nullptr, 100), nullptr);

  auto good = Encode(4, 4, PNG_COLOR_TYPE_RGBA, 8, std::vector<unsigned char>(64, 99));
  ASSERT_FALSE(good.empty());
  std::vector<unsigned char> cut(good.begin(), good.begin() + good.size() / 2);
  EXPECT_EQ(Decode(cut), nullptr);
  std::vector<unsigned char> flipped = good;
  flipped[43] ^= 0x5A;  // inside the image data: the checksum no longer matches
  EXPECT_EQ(Decode(flipped), nullptr);
  std::vector<unsigned char> badSignature = good;
  badSignature[1] = 'Q';
  EXPECT_EQ(Decode(badSignature), nullptr);
}

TEST(PngDecode, HeaderClaimingHugeDimensionsIsRefusedBeforeAllocating) {
  auto good = Encode(1, 1, PNG_COLOR_TYPE_RGBA, 8, {1, 2, 3, 4});
  // Rewrite the header's width and height (bytes 16..23) and its checksum.
  auto patch = [&](uint32_t width, uint32_t height) {
    std::vector<unsigned char> bytes = good;
    for (int i = 0; i < 4; ++i) {
      bytes[16 + i] = static_cast<unsigned char>(width >> (24 - 8 * i));
      bytes[20 + i] = static_cast<unsigned char>(height >> (24 - 8 * i));
    }
    uLong crc = crc32(0, bytes.data() + 12, 17);
    for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
    return bytes;
  };
  EXPECT_EQ(Decode(patch(1000000, 1000000)), nullptr);
  EXPECT_EQ(Decode(patch(16000, 16000)), nullptr);  // each side allowed, the area not
  EXPECT_EQ(Decode(patch(1, 1)) != nullptr, true);   // the patching itself is sound
}

}  // namespace
