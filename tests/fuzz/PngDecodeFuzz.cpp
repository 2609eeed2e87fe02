// The editor's PNG decoder (the libpng seam) with any bytes.
// Checks: a decoded image has a size within the decoder's limits and all of
// its pixels can be read.
#include <memory>

#include "FuzzSupport.h"
#include "PIX_Bitmap.h"
#include "PngCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<PIX_MemBitmap> bitmap(LoadPngFromMemory(data, size));
  if (!bitmap) return 0;
  const int width = bitmap->Width(), height = bitmap->Height();
  FUZZ_REQUIRE(width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide);
  FUZZ_REQUIRE(static_cast<long long>(width) * height <= kMaxImagePixels);
  const uint32_t* pixels = bitmap->PixelData();
  FUZZ_REQUIRE(pixels);
  // Every row of the image is readable (ASan reports a short allocation).
  uint32_t mix = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) mix ^= pixels[y * bitmap->RowSpan() + x];
  return static_cast<int>(mix & 0);
}
