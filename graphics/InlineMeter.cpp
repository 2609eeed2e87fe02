#include "InlineMeter.h"

#include <algorithm>
#include <cmath>

#include "IControl.h"
#include "PIX_Bitmap.h"

void ResampleAxis::Prepare(int newSourceLength, int newDestLength) {
  if (newSourceLength == sourceLength && newDestLength == destLength) return;
  sourceLength = newSourceLength;
  destLength = newDestLength;
  // resize and clear keep the capacity: a size drawn before allocates nothing.
  first.resize(static_cast<size_t>(destLength));
  count.resize(static_cast<size_t>(destLength));
  offset.resize(static_cast<size_t>(destLength));
  weights.clear();
  weights.reserve(static_cast<size_t>(sourceLength) + static_cast<size_t>(destLength));
  for (int d = 0; d < destLength; ++d) {
    // In units where a source pixel is destLength long and a destination
    // pixel sourceLength long; 64 bits for large images.
    const int64_t begin = static_cast<int64_t>(d) * sourceLength;
    const int64_t end = begin + sourceLength;
    const int s0 = static_cast<int>(begin / destLength);
    const int s1 = static_cast<int>((end + destLength - 1) / destLength);  // exclusive
    first[d] = s0;
    count[d] = s1 - s0;
    offset[d] = static_cast<int>(weights.size());
    int sum = 0, largest = 0, largestWeight = -1;
    for (int s = s0; s < s1; ++s) {
      const int64_t lo = std::max(begin, static_cast<int64_t>(s) * destLength);
      const int64_t hi = std::min(end, static_cast<int64_t>(s + 1) * destLength);
      const int w = static_cast<int>(((hi - lo) * kWeightOne + sourceLength / 2) / sourceLength);
      if (w > largestWeight) {
        largestWeight = w;
        largest = s - s0;
      }
      weights.push_back(w);
      sum += w;
    }
    // The rounding remainder goes to the heaviest tap.
    weights[static_cast<size_t>(offset[d] + largest)] += kWeightOne - sum;
  }
}

namespace {
inline uint32_t PremultipliedChannel(uint32_t channel, uint32_t alpha) {
  return (channel * alpha + 127) / 255;
}
}  // namespace

int ResampleAxis::MaxCount() const {
  int most = 0;
  for (int d = 0; d < destLength; ++d) most = std::max(most, count[static_cast<size_t>(d)]);
  return most;
}

size_t AreaAveragingScratchSize(const ResampleAxis& xAxis, const ResampleAxis& yAxis) {
  return static_cast<size_t>(yAxis.MaxCount() + 1) * 4 * static_cast<size_t>(xAxis.destLength) +
         static_cast<size_t>(yAxis.MaxCount());
}

void DrawAreaAveraged(const uint32_t* source, int sourceRowSpan, const ResampleAxis& xAxis,
                      const ResampleAxis& yAxis, uint32_t* dest, int destRowSpan,
                      uint32_t* scratch) {
  const int width = xAxis.destLength;
  const size_t rowValues = 4 * static_cast<size_t>(width);
  // Source rows resampled horizontally (4 channels per destination pixel),
  // in a ring: a destination row needs at most `slots` consecutive source
  // rows, and the next destination row starts at the same row or later, so
  // each source row is resampled once.
  const int slots = yAxis.MaxCount();
  uint32_t* sums = scratch;
  uint32_t* ring = sums + rowValues;
  uint32_t* slotRow = ring + rowValues * static_cast<size_t>(slots);
  std::fill(slotRow, slotRow + slots, ~0u);
  constexpr int kShift = 2 * ResampleAxis::kWeightBits;
  constexpr uint32_t kHalf = 1u << (kShift - 1);
  for (int dy = 0; dy < yAxis.destLength; ++dy) {
    std::fill(sums, sums + rowValues, 0u);
    for (int j = 0; j < yAxis.count[dy]; ++j) {
      const int sourceRow = yAxis.first[dy] + j;
      uint32_t* row = ring + rowValues * static_cast<size_t>(sourceRow % slots);
      if (slotRow[sourceRow % slots] != static_cast<uint32_t>(sourceRow)) {
        slotRow[sourceRow % slots] = static_cast<uint32_t>(sourceRow);
        // At most 255 * kWeightOne per channel.
        const uint32_t* in = source + static_cast<intptr_t>(sourceRow) * sourceRowSpan;
        for (int dx = 0; dx < width; ++dx) {
          const uint32_t* px = in + xAxis.first[dx];
          const int* wx = &xAxis.weights[static_cast<size_t>(xAxis.offset[dx])];
          uint32_t a = 0, r = 0, g = 0, b = 0;
          for (int i = 0; i < xAxis.count[dx]; ++i) {
            const uint32_t p = px[i];
            const uint32_t alpha = p >> 24;
            const uint32_t w = static_cast<uint32_t>(wx[i]);
            a += alpha * w;
            r += PremultipliedChannel((p >> 16) & 255, alpha) * w;
            g += PremultipliedChannel((p >> 8) & 255, alpha) * w;
            b += PremultipliedChannel(p & 255, alpha) * w;
          }
          row[4 * dx] = a;
          row[4 * dx + 1] = r;
          row[4 * dx + 2] = g;
          row[4 * dx + 3] = b;
        }
      }
      // The sums stay below 255 << kShift.
      const uint32_t wy =
          static_cast<uint32_t>(yAxis.weights[static_cast<size_t>(yAxis.offset[dy] + j)]);
      for (size_t k = 0; k < rowValues; ++k) sums[k] += row[k] * wy;
    }
    uint32_t* out = dest + static_cast<intptr_t>(dy) * destRowSpan;
    for (int dx = 0; dx < width; ++dx) {
      const uint32_t* c = sums + 4 * dx;
      out[dx] = (((c[0] + kHalf) >> kShift) << 24) | (((c[1] + kHalf) >> kShift) << 16) |
                (((c[2] + kHalf) >> kShift) << 8) | ((c[3] + kHalf) >> kShift);
    }
  }
}

int InlineMeter::FrameFor(double meterValue) const {
  return FrameForValue(image_.frameCount, meterValue);
}

bool InlineMeter::Render(double meterValue, int maxWidth, int maxHeight) {
  width_ = height_ = 0;
  const int frameWidth = image_.FrameWidth();
  const int frameHeight = image_.FrameHeight();
  if (!image_.bitmap || frameWidth < 1 || frameHeight < 1 || image_.framesSideBySide)
    return false;
  const int hostWidth = std::min(maxWidth, kMaxSide);
  const int hostHeight = std::min(maxHeight, kMaxSide);
  if (hostWidth < kMinWidth || hostHeight < kMinHeight) return false;

  // The filmstrip's proportions at the host's width, or at its height when
  // that is the tighter limit.
  int pictureWidth = hostWidth;
  int pictureHeight = static_cast<int>(
      std::lround(static_cast<double>(hostWidth) * frameHeight / frameWidth));
  if (pictureHeight > hostHeight) {
    pictureHeight = hostHeight;
    pictureWidth = std::min(hostWidth, static_cast<int>(std::lround(
                                           static_cast<double>(hostHeight) * frameWidth /
                                           frameHeight)));
  }
  pictureWidth = std::max(pictureWidth, 1);
  pictureHeight = std::max(pictureHeight, 1);

  // Decodes the filmstrip on the first call (once per process).
  PIX_IBitmap* strip = image_.bitmap;
  const uint32_t* stripPixels = strip->PixelData();
  if (!stripPixels || strip->IsBottomUp() || strip->Width() < frameWidth ||
      strip->Height() < frameHeight * image_.frameCount)
    return false;

  pixels_.resize(static_cast<size_t>(hostWidth) * static_cast<size_t>(pictureHeight));
  xAxis_.Prepare(frameWidth, pictureWidth);
  yAxis_.Prepare(frameHeight, pictureHeight);

  const int margin = (hostWidth - pictureWidth) / 2;
  if (margin > 0 || pictureWidth < hostWidth) {
    for (int y = 0; y < pictureHeight; ++y) {
      uint32_t* row = &pixels_[static_cast<size_t>(y) * static_cast<size_t>(hostWidth)];
      std::fill(row, row + margin, 0u);
      std::fill(row + margin + pictureWidth, row + hostWidth, 0u);
    }
  }
  const int frame = FrameFor(meterValue);
  const uint32_t* frameTop =
      stripPixels + static_cast<intptr_t>(frame - 1) * frameHeight * strip->RowSpan();
  scratch_.resize(AreaAveragingScratchSize(xAxis_, yAxis_));
  DrawAreaAveraged(frameTop, strip->RowSpan(), xAxis_, yAxis_, pixels_.data() + margin,
                   hostWidth, scratch_.data());
  width_ = hostWidth;
  height_ = pictureHeight;
  return true;
}
