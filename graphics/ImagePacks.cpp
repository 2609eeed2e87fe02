#include "ImagePacks.h"

#include <cstdint>
#include <cstring>

namespace {

uint32_t Little32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

constexpr size_t kHeader = 16;          // magic, scale, image count
constexpr size_t kImageHeader = 8 + 12;  // name, frame width, height, count

}  // namespace

bool FindPackedImage(const unsigned char* pack, size_t length, const char* name,
                     PackedImage* image) {
  if (!pack || !name || !image || length < kHeader || std::memcmp(pack, "KSTPACK1", 8) != 0)
    return false;
  const size_t nameLength = std::strlen(name);
  if (nameLength == 0 || nameLength > 8) return false;
  const uint32_t scale = Little32(pack + 8), count = Little32(pack + 12);
  size_t at = kHeader;
  for (uint32_t i = 0; i < count; ++i) {
    if (length - at < kImageHeader) return false;
    const unsigned char* entry = pack + at;
    const uint32_t width = Little32(entry + 8), height = Little32(entry + 12),
                   frames = Little32(entry + 16);
    if (frames == 0 || frames > 4096 || width == 0 || height == 0 || width > 16384 ||
        height > 16384)
      return false;
    at += kImageHeader;
    if ((length - at) / 8 < frames) return false;
    if (std::memcmp(entry, name, nameLength) == 0 && (nameLength == 8 || entry[nameLength] == 0)) {
      image->scale = static_cast<int>(scale);
      image->frameWidth = static_cast<int>(width);
      image->frameHeight = static_cast<int>(height);
      image->frameCount = static_cast<int>(frames);
      image->pack = pack;
      image->packLength = length;
      image->table = pack + at;
      return true;
    }
    at += 8 * static_cast<size_t>(frames);
  }
  return false;
}

bool PackedFrame(const PackedImage& image, int frame, const unsigned char** png, size_t* length) {
  if (!image.pack || !png || !length || frame < 0 || frame >= image.frameCount) return false;
  const unsigned char* entry = image.table + 8 * static_cast<size_t>(frame);
  const size_t offset = Little32(entry), size = Little32(entry + 4);
  if (offset > image.packLength || size > image.packLength - offset || size < 8) return false;
  *png = image.pack + offset;
  *length = size;
  return true;
}
