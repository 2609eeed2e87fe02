// PNG decoding for the web page's editor, where no libpng exists: zlib's
// inflate and PNG's row filters, for the images the editor ships (8-bit
// RGBA or RGB, not interlaced: the 1x files and the packs the build draws).
// Anything else is refused. The bytes are untrusted: every length is
// checked, and the output never grows beyond the size the header gives.
// Nothing is encoded here.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

// ---- inflate (RFC 1951) ----

class Inflater {
 public:
  Inflater(const std::vector<uint8_t>& in, size_t expected)
      : in_(in), limit_(expected), out_(expected) {}

  // The zlib stream (RFC 1950) decompressed; false on any damage (its
  // checksum included) or when it makes other than the expected bytes.
  bool Run() {
    if (in_.size() < 6 || (in_[0] & 0x0F) != 8 || ((in_[0] << 8) | in_[1]) % 31 != 0 ||
        (in_[1] & 0x20))
      return false;
    at_ = 2;
    for (bool last = false; !last;) {
      last = Bits(1) == 1;
      const int type = Bits(2);
      bool ok = false;
      if (type == 0) ok = Stored();
      else if (type == 1) ok = Fixed();
      else if (type == 2) ok = Dynamic();
      if (!ok || failed_) return false;
    }
    // The Adler-32 of the data, from the next whole byte on.
    at_ -= static_cast<size_t>(bitCount_ / 8);
    if (made_ != limit_ || in_.size() - at_ < 4) return false;
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < made_;) {
      for (const size_t end = std::min(made_, i + 5552); i < end; ++i) {
        a += out_[i];
        b += a;
      }
      a %= 65521;
      b %= 65521;
    }
    return ((b << 16) | a) == ((uint32_t{in_[at_]} << 24) | (uint32_t{in_[at_ + 1]} << 16) |
                               (uint32_t{in_[at_ + 2]} << 8) | in_[at_ + 3]);
  }
  std::vector<uint8_t>& Output() { return out_; }

 private:
  // A canonical code: the symbols by code, and for codes of up to kFast
  // bits a table indexed by the next kFast input bits (symbol << 4 | length;
  // 0 where the code is longer).
  static constexpr int kFast = 9;
  struct Huffman {
    uint16_t count[16];
    uint16_t symbol[320];
    uint16_t fast[1 << kFast];
  };

  // As many whole bytes into the bit buffer as fit.
  void Fill() {
    while (bitCount_ <= 24 && at_ < in_.size()) {
      bitBuffer_ |= uint32_t{in_[at_++]} << bitCount_;
      bitCount_ += 8;
    }
  }

  int Bits(int need) {
    uint32_t value = bitBuffer_;
    while (bitCount_ < need) {
      if (at_ >= in_.size()) {
        failed_ = true;
        return 0;
      }
      value |= uint32_t{in_[at_++]} << bitCount_;
      bitCount_ += 8;
    }
    bitBuffer_ = value >> need;
    bitCount_ -= need;
    return static_cast<int>(value & ((1u << need) - 1));
  }

  bool Put(uint8_t byte) {
    if (made_ >= limit_) return false;
    out_[made_++] = byte;
    return true;
  }

  bool Stored() {
    // The rest of the current byte is dropped; whole bytes already in the
    // buffer are read again.
    at_ -= static_cast<size_t>(bitCount_ / 8);
    bitBuffer_ = 0;
    bitCount_ = 0;
    if (in_.size() - at_ < 4) return false;
    const unsigned length = in_[at_] | (in_[at_ + 1] << 8);
    const unsigned check = in_[at_ + 2] | (in_[at_ + 3] << 8);
    at_ += 4;
    if (length != (~check & 0xFFFF) || in_.size() - at_ < length) return false;
    for (unsigned i = 0; i < length; ++i)
      if (!Put(in_[at_++])) return false;
    return true;
  }

  // Canonical code from code lengths; false when over-subscribed, or
  // incomplete for more than one code.
  static bool Build(Huffman* h, const uint8_t* lengths, int n) {
    std::memset(h->count, 0, sizeof h->count);
    for (int i = 0; i < n; ++i) h->count[lengths[i]]++;
    if (h->count[0] == n) return true;
    int left = 1;
    for (int len = 1; len < 16; ++len) {
      left = (left << 1) - h->count[len];
      if (left < 0) return false;
    }
    uint16_t offsets[16];
    offsets[1] = 0;
    for (int len = 1; len < 15; ++len) offsets[len + 1] = offsets[len] + h->count[len];
    for (int i = 0; i < n; ++i)
      if (lengths[i]) h->symbol[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
    std::memset(h->fast, 0, sizeof h->fast);
    int next[16];
    int code = 0;
    next[0] = 0;
    for (int len = 1; len < 16; ++len) next[len] = code = (code + h->count[len - 1] * (len > 1)) << 1;
    for (int i = 0; i < n; ++i) {
      const int len = lengths[i];
      if (len == 0) continue;
      const int assigned = next[len]++;
      if (len > kFast) continue;
      int reversed = 0;
      for (int b = 0; b < len; ++b) reversed |= ((assigned >> b) & 1) << (len - 1 - b);
      for (int fill = reversed; fill < (1 << kFast); fill += 1 << len)
        h->fast[fill] = static_cast<uint16_t>((i << 4) | len);
    }
    return left == 0 || n - h->count[0] == 1;
  }

  int Decode(const Huffman& h) {
    Fill();
    const int entry = h.fast[bitBuffer_ & ((1u << kFast) - 1)];
    if (entry && (entry & 15) <= bitCount_) {
      bitBuffer_ >>= entry & 15;
      bitCount_ -= entry & 15;
      return entry >> 4;
    }
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= Bits(1);
      if (failed_) return -1;
      const int count = h.count[len];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  bool Codes(const Huffman& lengthCode, const Huffman& distanceCode) {
    static const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                             15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const uint16_t kDistanceBase[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      int symbol = Decode(lengthCode);
      if (symbol < 0) return false;
      if (symbol < 256) {
        if (!Put(static_cast<uint8_t>(symbol))) return false;
        continue;
      }
      if (symbol == 256) return true;
      symbol -= 257;
      if (symbol >= 29) return false;
      const size_t length = kLengthBase[symbol] + Bits(kLengthExtra[symbol]);
      const int d = Decode(distanceCode);
      if (d < 0 || d >= 30) return false;
      const size_t distance = kDistanceBase[d] + Bits(kDistanceExtra[d]);
      if (failed_ || distance > made_ || length > limit_ - made_) return false;
      // Byte by byte: a copy may overlap what it makes.
      uint8_t* to = out_.data() + made_;
      const uint8_t* from = to - distance;
      for (size_t i = 0; i < length; ++i) to[i] = from[i];
      made_ += length;
    }
  }

  bool Fixed() {
    uint8_t lengths[288];
    int i = 0;
    for (; i < 144; ++i) lengths[i] = 8;
    for (; i < 256; ++i) lengths[i] = 9;
    for (; i < 280; ++i) lengths[i] = 7;
    for (; i < 288; ++i) lengths[i] = 8;
    Huffman lengthCode, distanceCode;
    Build(&lengthCode, lengths, 288);
    for (i = 0; i < 30; ++i) lengths[i] = 5;
    Build(&distanceCode, lengths, 30);
    return Codes(lengthCode, distanceCode);
  }

  bool Dynamic() {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literals = Bits(5) + 257, distances = Bits(5) + 1, codeLengths = Bits(4) + 4;
    if (failed_ || literals > 286 || distances > 30) return false;
    uint8_t lengths[320] = {};
    for (int i = 0; i < codeLengths; ++i) lengths[kOrder[i]] = static_cast<uint8_t>(Bits(3));
    Huffman lengthCode, distanceCode;
    if (!Build(&lengthCode, lengths, 19)) return false;
    for (int i = 0; i < literals + distances;) {
      int symbol = Decode(lengthCode);
      if (symbol < 0) return false;
      if (symbol < 16) {
        lengths[i++] = static_cast<uint8_t>(symbol);
        continue;
      }
      uint8_t value = 0;
      int repeat;
      if (symbol == 16) {
        if (i == 0) return false;
        value = lengths[i - 1];
        repeat = 3 + Bits(2);
      } else if (symbol == 17) {
        repeat = 3 + Bits(3);
      } else {
        repeat = 11 + Bits(7);
      }
      if (failed_ || i + repeat > literals + distances) return false;
      while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;
    if (!Build(&lengthCode, lengths, literals) || !Build(&distanceCode, lengths + literals, distances))
      return false;
    return Codes(lengthCode, distanceCode);
  }

  const std::vector<uint8_t>& in_;
  const size_t limit_;
  std::vector<uint8_t> out_;
  size_t made_ = 0;  // bytes of out_ made so far
  size_t at_ = 0;
  uint32_t bitBuffer_ = 0;
  int bitCount_ = 0;
  bool failed_ = false;
};

uint32_t Big32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Undoes the row filters in place: `rows` rows of a filter byte and
// `stride` bytes of `channels`-byte pixels.
bool Unfilter(uint8_t* data, int rows, size_t stride, int channels) {
  static const uint8_t kNone[1] = {0};
  const size_t left = static_cast<size_t>(channels);
  const uint8_t* previous = nullptr;
  for (int y = 0; y < rows; ++y, data += stride + 1) {
    const int filter = data[0];
    uint8_t* row = data + 1;
    const uint8_t* up = previous ? previous : kNone;
    const size_t upStep = previous ? 1 : 0;  // the row above, or zeros
    switch (filter) {
      case 0:
        break;
      case 1:
        for (size_t x = left; x < stride; ++x) row[x] = static_cast<uint8_t>(row[x] + row[x - left]);
        break;
      case 2:
        for (size_t x = 0; x < stride; ++x) row[x] = static_cast<uint8_t>(row[x] + up[x * upStep]);
        break;
      case 3:
        for (size_t x = 0; x < stride; ++x) {
          const int a = x >= left ? row[x - left] : 0;
          row[x] = static_cast<uint8_t>(row[x] + ((a + up[x * upStep]) >> 1));
        }
        break;
      case 4:
        for (size_t x = 0; x < stride; ++x) {
          const int a = x >= left ? row[x - left] : 0, b = up[x * upStep],
                    c = x >= left ? up[(x - left) * upStep] : 0;
          const int p = a + b - c;
          const int pa = p > a ? p - a : a - p, pb = p > b ? p - b : b - p,
                    pc = p > c ? p - c : c - p;
          row[x] = static_cast<uint8_t>(row[x] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
        }
        break;
      default:
        return false;
    }
    previous = row;
  }
  return true;
}

}  // namespace

bool PngDecoderAvailable() { return true; }

PIX_MemBitmap* LoadPngFromMemory(const unsigned char* data, size_t length) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!data || length < 8 || std::memcmp(data, kSignature, 8) != 0) return nullptr;
  uint32_t width = 0, height = 0;
  int channels = 0;
  std::vector<uint8_t> compressed;
  bool ended = false;
  for (size_t at = 8; !ended;) {
    if (length - at < 12) return nullptr;
    const uint32_t size = Big32(data + at);
    const unsigned char* type = data + at + 4;
    if (size > length - at - 12) return nullptr;
    const unsigned char* body = data + at + 8;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (size != 13 || at != 8) return nullptr;
      width = Big32(body);
      height = Big32(body + 4);
      const int depth = body[8], colour = body[9];
      if (depth != 8 || (colour != 6 && colour != 2) || body[10] || body[11] || body[12])
        return nullptr;  // only what the editor's images are; no interlacing
      channels = colour == 6 ? 4 : 3;
      if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide ||
          static_cast<long long>(width) * height > kMaxImagePixels)
        return nullptr;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      if (!channels) return nullptr;
      compressed.insert(compressed.end(), body, body + size);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      ended = true;
    } else if (std::memcmp(type, "tRNS", 4) == 0 || std::memcmp(type, "PLTE", 4) == 0) {
      return nullptr;  // a colour key would change pixels this decoder keeps opaque
    }
    at += 12 + size;
  }
  if (!channels) return nullptr;
  const size_t stride = static_cast<size_t>(width) * channels;
  Inflater inflater(compressed, (stride + 1) * height);
  if (!inflater.Run()) return nullptr;
  std::vector<uint8_t>& raw = inflater.Output();
  if (!Unfilter(raw.data(), static_cast<int>(height), stride, channels)) return nullptr;

  std::unique_ptr<PIX_MemBitmap> bitmap(new PIX_MemBitmap);
  bitmap->Resize(static_cast<int>(width), static_cast<int>(height));
  if (bitmap->Width() != static_cast<int>(width) || bitmap->Height() != static_cast<int>(height))
    return nullptr;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* p = raw.data() + y * (stride + 1) + 1;
    uint32_t* row = bitmap->Row(static_cast<int>(y));
    for (uint32_t x = 0; x < width; ++x, p += channels) {
      const uint32_t alpha = channels == 4 ? p[3] : 0xFF;
      row[x] = (alpha << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
  }
  return bitmap.release();
}

bool WriteBitmapPng(PIX_IBitmap*, const char*) { return false; }

bool WriteArgbPng(const uint32_t*, int, int, int, const char*, int) { return false; }
