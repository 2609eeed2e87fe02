// InlineMeter: the gain-reduction meter as a small picture for a host to show
// in its own window (Ardour's mixer strip), without the editor: the editor's
// VU filmstrip, the frame the meter value selects, scaled to the width the
// host offers.
//
// Pixels are native-endian 0xAARRGGBB with premultiplied alpha (Cairo's
// ARGB32), unlike the editor's straight-alpha bitmaps.
//
// Threads: one InlineMeter belongs to one caller (the host's GUI thread);
// it has no lock. Memory is allocated only when a size is drawn that is
// larger than any drawn before (and, once per process, when the filmstrip is
// first decoded); drawing again at a size seen before allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GraphicsTypes.h"

// Area-averaging weights from `sourceLength` pixels to `destLength` pixels
// along one axis: destination pixel d covers source positions
// [d, d + 1) * sourceLength / destLength, and each source pixel weighs the
// part of it covered, in fixed point so that every destination pixel's
// weights sum to exactly kWeightOne.
struct ResampleAxis {
  static constexpr int kWeightBits = 12;
  static constexpr int kWeightOne = 1 << kWeightBits;

  std::vector<int> first;    // per destination pixel: first source pixel
  std::vector<int> count;    // per destination pixel: number of source pixels
  std::vector<int> offset;   // per destination pixel: index of its first weight
  std::vector<int> weights;  // count[d] entries for each d, from offset[d]
  int sourceLength = 0;
  int destLength = 0;

  // Recomputes for new lengths (both >= 1); does nothing when unchanged.
  void Prepare(int sourceLength, int destLength);
  // The most source pixels any destination pixel takes.
  int MaxCount() const;
};

// Draws the source rectangle (straight ARGB pixels, `sourceRowSpan` apart)
// into `dest` (premultiplied ARGB, `destRowSpan` pixels apart), scaled to
// the axes' destination lengths by area averaging of the premultiplied
// pixels, rounded to nearest. The axes must have been prepared for the
// source rectangle's size; `scratch` holds AreaAveragingScratchSize values.
// At scale 1 it is an exact copy, premultiplied.
size_t AreaAveragingScratchSize(const ResampleAxis& xAxis, const ResampleAxis& yAxis);
void DrawAreaAveraged(const uint32_t* source, int sourceRowSpan, const ResampleAxis& xAxis,
                      const ResampleAxis& yAxis, uint32_t* dest, int destRowSpan,
                      uint32_t* scratch);

class InlineMeter {
 public:
  // Host sizes above this are drawn at this size.
  static constexpr int kMaxSide = 2048;
  // Below these the meter is not drawn at all.
  static constexpr int kMinWidth = 8;
  static constexpr int kMinHeight = 4;

  // `meterImage` is the editor's meter filmstrip (frames stacked top to
  // bottom); it must outlive this object.
  explicit InlineMeter(const BitmapRef& meterImage) : image_(meterImage) {}

  // The picture for `meterValue` (the editor meter's normalised value) at
  // most maxWidth x maxHeight: the host's width, the height that keeps the
  // filmstrip's proportions (less when the host allows less, the picture
  // then centred with clear sides). False when nothing can be drawn (too
  // small, or an image without pixels); the last picture is then gone.
  bool Render(double meterValue, int maxWidth, int maxHeight);

  // The filmstrip frame (1-based) a meter value shows: equal values draw the
  // same picture.
  int FrameFor(double meterValue) const;

  // The last picture: Width() x Height() pixels, RowSpan() pixels apart.
  const uint32_t* Pixels() const { return pixels_.data(); }
  uint32_t* Pixels() { return pixels_.data(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowSpan() const { return width_; }

 private:
  BitmapRef image_;
  std::vector<uint32_t> pixels_;
  std::vector<uint32_t> scratch_;
  ResampleAxis xAxis_;
  ResampleAxis yAxis_;
  int width_ = 0;
  int height_ = 0;
};
