#include "PIX_Bitmap.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

uint32_t* PIX_IBitmap::Row(int y) {
  uint32_t* base = PixelData();
  if (IsBottomUp()) return base + static_cast<intptr_t>(Height() - 1 - y) * RowSpan();
  return base + static_cast<intptr_t>(y) * RowSpan();
}

// ---------------------------------------------------------------- PIX_MemBitmap

PIX_MemBitmap::~PIX_MemBitmap() { std::free(raw_); }

uint32_t* PIX_MemBitmap::PixelData() {
  if (!raw_) return nullptr;
  uintptr_t p = reinterpret_cast<uintptr_t>(raw_);
  p = (p + 63) & ~static_cast<uintptr_t>(63);
  return reinterpret_cast<uint32_t*>(p);
}

bool PIX_MemBitmap::Resize(int width, int height) {
  if (width == width_ && height == height_) return false;
  width_ = width;
  height_ = height;
  // Computed wide so that absurd sizes are refused instead of wrapping.
  int64_t needed = 0;
  if (width > 0 && height > 0)
    needed = static_cast<int64_t>(height) * ((static_cast<int64_t>(width) + 3) & ~int64_t{3}) * 4;
  if (needed > 0 && needed <= INT_MAX - 64) {
    int count = static_cast<int>(needed);
    if (!raw_) {
      raw_ = std::malloc(static_cast<size_t>(count) + 63);
      allocatedBytes_ = raw_ ? count : 0;
    } else if (allocatedBytes_ < count) {
      // Grow with headroom so that a series of small enlargements does not
      // reallocate every time.
      int64_t grown = static_cast<int64_t>(count) / 4 * 5;
      if (grown > INT_MAX - 64) grown = count;
      void* bigger = std::realloc(raw_, static_cast<size_t>(grown) + 63);
      if (bigger) {
        raw_ = bigger;
        allocatedBytes_ = static_cast<int>(grown);
      } else {
        std::free(raw_);
        raw_ = std::malloc(static_cast<size_t>(count) + 63);
        allocatedBytes_ = raw_ ? count : 0;
      }
    }
  } else {
    std::free(raw_);
    raw_ = nullptr;
    allocatedBytes_ = 0;
  }
  if (!raw_) {
    width_ = 0;
    height_ = 0;
  }
  return true;
}

// ---------------------------------------------------------------- PIX_SysBitmap

PIX_SysBitmap::PIX_SysBitmap() {
#ifdef _WIN32
  context_ = CreateCompatibleDC(nullptr);
#else
  context_ = this;  // no device context here; the buffer itself stands in
#endif
}

PIX_SysBitmap::~PIX_SysBitmap() {
  ReleasePixels();
#ifdef _WIN32
  if (context_) DeleteDC(static_cast<HDC>(context_));
#endif
}

void PIX_SysBitmap::ReleasePixels() {
#ifdef _WIN32
  if (dib_) {
    if (context_) SelectObject(static_cast<HDC>(context_), static_cast<HGDIOBJ>(previousBitmap_));
    DeleteObject(static_cast<HGDIOBJ>(dib_));
  }
#else
  std::free(dib_);
#endif
  dib_ = nullptr;
  previousBitmap_ = nullptr;
  pixels_ = nullptr;
}

bool PIX_SysBitmap::Resize(int width, int height) {
  if (!context_) {
    width_ = height_ = 0;
    ReleasePixels();
    return false;
  }
  if (width == width_ && height == height_) return false;
  width_ = width;
  height_ = height;
  // Shrinking keeps the pixels and their larger row span.
  if (width > 0 && height > 0 && allocatedWidth_ >= width && allocatedHeight_ >= height &&
      pixels_)
    return true;

  allocatedHeight_ = height;
  allocatedWidth_ = (width + 3) & ~3;
  ReleasePixels();
  if (width < 1 || height < 1) {
    width_ = height_ = 0;
    allocatedWidth_ = allocatedHeight_ = 0;
    return false;
  }
  bool ok = false;
  int64_t bytes = static_cast<int64_t>(allocatedWidth_) * allocatedHeight_ * 4;
  if (bytes > 0 && bytes <= INT_MAX) {
#ifdef _WIN32
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = allocatedWidth_;
    info.bmiHeader.biHeight = -allocatedHeight_;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(static_cast<HDC>(context_), &info, DIB_RGB_COLORS, &bits,
                                   nullptr, 0);
    if (dib && bits) {
      dib_ = dib;
      previousBitmap_ = SelectObject(static_cast<HDC>(context_), dib);
      pixels_ = static_cast<uint32_t*>(bits);
      ok = true;
    } else if (dib) {
      DeleteObject(dib);
    }
#else
    dib_ = std::calloc(static_cast<size_t>(bytes), 1);
    pixels_ = static_cast<uint32_t*>(dib_);
    ok = dib_ != nullptr;
#endif
  }
  if (!ok) {
    width_ = height_ = 0;
    allocatedWidth_ = allocatedHeight_ = 0;
  }
  return true;
}

// ---------------------------------------------------------------- blitting

namespace {

// Channel helpers. All divisions by 256 are C++ integer divisions, which
// truncate toward zero (a negative product goes toward zero, not down).
inline int Channel(uint32_t p, int shift) { return static_cast<int>((p >> shift) & 255); }
inline int Clamp255(int v) { return v > 255 ? 255 : (v < 0 ? 0 : v); }
inline uint32_t Pack(int a, int r, int g, int b) {
  return (static_cast<uint32_t>(a & 255) << 24) | (static_cast<uint32_t>(r & 255) << 16) |
         (static_cast<uint32_t>(g & 255) << 8) | static_cast<uint32_t>(b & 255);
}

// One channel moved from the source toward the destination by f/256, the
// difference truncated toward zero.
inline int TowardDestination(uint32_t d, uint32_t s, int shift, int f) {
  return Channel(s, shift) + (Channel(d, shift) - Channel(s, shift)) * f / 256;
}

inline uint32_t CopyWeighted(uint32_t d, uint32_t s, int w) {
  int inv = 256 - w;
  return Pack(TowardDestination(d, s, 24, inv), TowardDestination(d, s, 16, inv),
              TowardDestination(d, s, 8, inv), TowardDestination(d, s, 0, inv));
}

inline uint32_t SourceOver(uint32_t d, uint32_t s, int w) {
  int sa = Channel(s, 24);
  if (sa == 0) return d;
  if (w == 256) {
    if (sa == 255) return s;
    // Full weight uses 255 - sa as the factor for the colour channels.
    int f = 255 - sa;
    int a = std::min(Channel(d, 24) + sa, 255);
    return Pack(a, TowardDestination(d, s, 16, f), TowardDestination(d, s, 8, f),
                TowardDestination(d, s, 0, f));
  }
  int k = (sa + 1) * w / 256;
  int f = 256 - k;
  int a = std::min(Channel(d, 24) + k, 255);
  return Pack(a, TowardDestination(d, s, 16, f), TowardDestination(d, s, 8, f),
              TowardDestination(d, s, 0, f));
}

inline uint32_t AddAlpha(uint32_t d, uint32_t s, int w) {
  int sa = Channel(s, 24);
  if (sa == 0) return d;
  int k = (sa + 1) * w / 256;
  int a = Clamp255(Channel(d, 24) + sa * k / 256);
  int r = Clamp255(Channel(d, 16) + Channel(s, 16) * k / 256);
  int g = Clamp255(Channel(d, 8) + Channel(s, 8) * k / 256);
  int b = Clamp255(Channel(d, 0) + Channel(s, 0) * k / 256);
  return Pack(a, r, g, b);
}

inline int DodgeChannel(int dc, int sc, int k) {
  int den = 256 - sc * k / 256;
  return Clamp255(den > 1 ? (dc * 256) / den : dc * 256);
}

inline uint32_t DodgeAlpha(uint32_t d, uint32_t s, int w) {
  int sa = Channel(s, 24);
  int k = (sa + 1) * w / 256;
  return Pack(DodgeChannel(Channel(d, 24), sa, k), DodgeChannel(Channel(d, 16), Channel(s, 16), k),
              DodgeChannel(Channel(d, 8), Channel(s, 8), k),
              DodgeChannel(Channel(d, 0), Channel(s, 0), k));
}

// Weight as 0..256, converted once per blit.
inline int WeightFactor(float weight) {
  double w = static_cast<double>(weight);
  if (!(w > 0.0)) return 0;
  if (w > 1.0) w = 1.0;
  return static_cast<int>(w * 256.0);
}

// One row of the per-pixel operators. `srcStep` is 0 for a fill.
void BlendRow(uint32_t* d, const uint32_t* s, int srcStep, int count, float weight, int mode) {
  int w = WeightFactor(weight);
  int op = mode & 0xFF;
  bool useAlpha = (mode & BlitUseSourceAlpha) != 0;
  if (!useAlpha || op == BlitCopy) {
    if (!useAlpha) {
      if (w >= 256) {
        for (int x = 0; x < count; ++x, s += srcStep) d[x] = *s;
      } else if (weight == 0.5f) {
        for (int x = 0; x < count; ++x, s += srcStep)
          d[x] = ((d[x] >> 1) & 0x7F7F7F7Fu) + ((*s >> 1) & 0x7F7F7F7Fu);
      } else {
        for (int x = 0; x < count; ++x, s += srcStep) d[x] = CopyWeighted(d[x], *s, w);
      }
      return;
    }
    if (w == 0) return;
    for (int x = 0; x < count; ++x, s += srcStep) d[x] = SourceOver(d[x], *s, w);
    return;
  }
  if (op == BlitAdd) {
    for (int x = 0; x < count; ++x, s += srcStep) d[x] = AddAlpha(d[x], *s, w);
  } else if (op == BlitDodge) {
    for (int x = 0; x < count; ++x, s += srcStep) d[x] = DodgeAlpha(d[x], *s, w);
  } else {
    if (w == 0) return;
    for (int x = 0; x < count; ++x, s += srcStep) d[x] = SourceOver(d[x], *s, w);
  }
}

}  // namespace

void BlitImage(PIX_IBitmap* dest, PIX_IBitmap* src, int destX, int destY,
               const PixelRect* srcRect, float weight, int mode) {
  if (!dest || !src || weight == 0.0f) return;
  if (!dest->PixelData() || !src->PixelData()) return;

  PixelRect r = srcRect ? *srcRect : PixelRect(0, 0, src->Width(), src->Height());
  r.right = std::min(r.right, src->Width());
  r.bottom = std::min(r.bottom, src->Height());
  if (r.left < 0) {
    destX -= r.left;
    r.left = 0;
  }
  if (r.top < 0) {
    destY -= r.top;
    r.top = 0;
  }
  if (destX < 0) {
    r.left -= destX;
    destX = 0;
  }
  if (destY < 0) {
    r.top -= destY;
    destY = 0;
  }
  int width = std::min(r.right - r.left, dest->Width() - destX);
  int height = std::min(r.bottom - r.top, dest->Height() - destY);
  if (width <= 0 || height <= 0) return;

  bool wholeRows = (mode == BlitCopy) && WeightFactor(weight) >= 256;
  for (int y = 0; y < height; ++y) {
    uint32_t* d = dest->Row(destY + y) + destX;
    const uint32_t* s = src->Row(r.top + y) + r.left;
    if (wholeRows)
      std::memcpy(d, s, static_cast<size_t>(width) * 4);
    else
      BlendRow(d, s, 1, width, weight, mode);
  }
}

void FillPixelRect(PIX_IBitmap* dest, int x, int y, int width, int height, uint32_t colour,
                   float weight, int mode) {
  if (!dest || !dest->PixelData() || weight == 0.0f) return;
  int x0 = std::max(x, 0);
  int y0 = std::max(y, 0);
  int x1 = std::min(x + width, dest->Width());
  int y1 = std::min(y + height, dest->Height());
  if (x1 <= x0 || y1 <= y0) return;
  for (int row = y0; row < y1; ++row)
    BlendRow(dest->Row(row) + x0, &colour, 0, x1 - x0, weight, mode);
}

// ---------------------------------------------------------------- resampling

namespace {

struct Tap {
  int index;
  float weight;
};

// For each of `to` target pixels, the source pixels of [from0, from0 + from)
// and their weights: each target pixel averages the source area it covers
// when shrinking, and interpolates between the two nearest centres when
// growing. Weights of a target pixel add up to 1.
std::vector<std::vector<Tap>> Taps(int from0, int from, int to) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(to));
  const double ratio = static_cast<double>(from) / to;
  for (int i = 0; i < to; ++i) {
    std::vector<Tap>& t = taps[static_cast<size_t>(i)];
    if (from == to) {
      t.push_back({from0 + i, 1.0f});
    } else if (ratio > 1.0) {
      const double a = i * ratio, b = (i + 1) * ratio;
      for (int k = static_cast<int>(a); k < b && k < from; ++k) {
        const double w = (std::min<double>(k + 1, b) - std::max<double>(k, a)) / ratio;
        if (w > 0) t.push_back({from0 + k, static_cast<float>(w)});
      }
    } else {
      double c = (i + 0.5) * ratio - 0.5;
      c = std::min(std::max(c, 0.0), static_cast<double>(from - 1));
      const int k = static_cast<int>(c);
      const double f = c - k;
      t.push_back({from0 + k, static_cast<float>(1.0 - f)});
      if (f > 0 && k + 1 < from) t.push_back({from0 + k + 1, static_cast<float>(f)});
    }
  }
  return taps;
}

}  // namespace

PIX_MemBitmap* ResampleBitmap(PIX_IBitmap* src, const PixelRect& srcRect, int width, int height) {
  if (!src || !src->PixelData() || width <= 0 || height <= 0 || srcRect.left < 0 ||
      srcRect.top < 0 || srcRect.Width() <= 0 || srcRect.Height() <= 0 ||
      srcRect.right > src->Width() || srcRect.bottom > src->Height())
    return nullptr;
  auto* out = new PIX_MemBitmap;
  out->Resize(width, height);
  if (!out->PixelData()) {
    delete out;
    return nullptr;
  }
  const auto columns = Taps(srcRect.left, srcRect.Width(), width);
  const auto rows = Taps(srcRect.top, srcRect.Height(), height);
  // Premultiplied while averaging, so transparent pixels lend no colour.
  std::vector<float> line(static_cast<size_t>(width) * 4);
  for (int y = 0; y < height; ++y) {
    std::fill(line.begin(), line.end(), 0.0f);
    for (const Tap& r : rows[static_cast<size_t>(y)]) {
      const uint32_t* in = src->Row(r.index);
      for (int x = 0; x < width; ++x) {
        float a = 0, red = 0, green = 0, blue = 0;
        for (const Tap& c : columns[static_cast<size_t>(x)]) {
          const uint32_t p = in[c.index];
          const float pa = static_cast<float>(p >> 24) * c.weight;
          a += pa;
          red += static_cast<float>((p >> 16) & 255) * pa;
          green += static_cast<float>((p >> 8) & 255) * pa;
          blue += static_cast<float>(p & 255) * pa;
        }
        float* o = &line[static_cast<size_t>(x) * 4];
        o[0] += a * r.weight;
        o[1] += red * r.weight;
        o[2] += green * r.weight;
        o[3] += blue * r.weight;
      }
    }
    uint32_t* dest = out->Row(y);
    for (int x = 0; x < width; ++x) {
      const float* o = &line[static_cast<size_t>(x) * 4];
      auto channel = [](float v) {
        return static_cast<uint32_t>(std::min(std::max(v + 0.5f, 0.0f), 255.0f));
      };
      const uint32_t a = channel(o[0]);
      if (a == 0) {
        dest[x] = 0;
        continue;
      }
      dest[x] = (a << 24) | (channel(o[1] / o[0]) << 16) | (channel(o[2] / o[0]) << 8) |
                channel(o[3] / o[0]);
    }
  }
  return out;
}
