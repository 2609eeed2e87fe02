// The 10th-order Bessel filters of the saturation stage, stepped two lanes
// (left, right) at a time, with their histories on tapes during a block.
// Same arithmetic as TickBessel10 (KestruneFilters.h), operation for
// operation; BesselStep explains how the flush of tiny outputs is kept off
// the filter's dependent chain.
#pragma once

#include <algorithm>
#include <cstring>

#include "KestruneFilters.h"
#include "LaneVectors.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

// All ones in the lanes FlushTiny keeps (finite, magnitude >= 2^-54).
inline __m128d KeepMask(Stereo v) {
  const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), (__m128d)v);
  return _mm_and_pd(_mm_cmpge_pd(magnitude, _mm_set1_pd(0x1p-54)),
                    _mm_cmple_pd(magnitude, _mm_set1_pd(1.7976931348623157e308)));
}

// The Bessel coefficients of both channels, shared by the up- and the
// down-sampling filter.
struct StereoBesselCoefficients {
  Stereo c[11];
  Stereo g;

  void Load(const BesselCoefficients& left, const BesselCoefficients& right) {
    for (int k = 0; k <= 10; ++k) c[k] = Stereo{left.c[k], right.c[k]};
    g = Stereo{left.g, right.g};
  }
};

// A stereo Bessel history kept as a tape: each step appends its (flushed)
// output, so y_k (k = 0 the newest) is top[-1 - k]. When the tape is full
// its last eleven values move back to the start. During a block the write
// position and the newest unflushed sum live in a BesselRun, in registers,
// so the dependency from one step to the next does not pass through memory.
template <int kCapacity>
struct StereoBesselTape {
  Stereo values[kCapacity];

  Stereo* Load(const BesselHistory& left, const BesselHistory& right) {
    for (int k = 0; k <= 10; ++k) values[10 - k] = Stereo{left.y[k], right.y[k]};
    return values + 11;
  }
  static void Store(const Stereo* top, BesselHistory& left, BesselHistory& right) {
    for (int k = 0; k <= 10; ++k) {
      const Stereo y = top[-1 - k];
      left.y[k] = y[0];
      right.y[k] = y[1];
    }
  }
  // Makes room for `steps` more outputs after `top`; returns the new top.
  Stereo* Reserve(Stereo* top, int steps) {
    if (top + steps <= values + kCapacity) return top;
    std::memmove(values, top - 11, 11 * sizeof(Stereo));
    return values + 11;
  }
};

struct BesselRun {
  Stereo* top;    // where the next output goes; top[-1] is y_1, flushed
  Stereo sum;     // y_1 before the flush
  __m128d keep;   // KeepMask(sum): y_1 = sum & keep
  __m128d smallest;  // speculative steps: smallest |sum| so far

  void Start(Stereo* tapeTop) {
    top = tapeTop;
    sum = top[-1];
    keep = _mm_castsi128_pd(_mm_set1_epi32(-1));
  }
  // Before speculative steps: sum becomes the flushed y_1 itself (with an
  // all-ones mask; the same filter state, see BesselStep).
  void StartSpeculating() { Start(top); }
};

// After speculative steps of both runs: false only if no flush could have
// acted, i.e. every sum was finite with magnitude >= 2^-54. Tiny, zero and
// NaN sums show in `smallest` (a NaN compares false); a non-finite sum, once
// there, stays in each later sum (c1 times it is non-finite too), so the
// newest sums show it. Exact zeros, which the flush would leave alone if
// +0, are counted too: a needless rerun is only slower.
inline bool FlushMayHaveActed(const BesselRun& a, const BesselRun& b) {
  const __m128d signMask = _mm_set1_pd(-0.0);
  const __m128d finite = _mm_and_pd(
      _mm_cmple_pd(_mm_andnot_pd(signMask, (__m128d)a.sum), _mm_set1_pd(1.7976931348623157e308)),
      _mm_cmple_pd(_mm_andnot_pd(signMask, (__m128d)b.sum), _mm_set1_pd(1.7976931348623157e308)));
  const __m128d large = _mm_cmpge_pd(_mm_min_pd(a.smallest, b.smallest), _mm_set1_pd(0x1p-54));
  return _mm_movemask_pd(_mm_and_pd(finite, large)) != 3;
}

// One step of a stereo Bessel filter:
// y0 = FlushTiny(c1 y1 + g x + c2 y2 + ... + c10 y10), in that order.
// The flush is kept off the dependent chain from one step to the next: the
// first product is taken from the unflushed sum and masked afterwards,
// (c1 sum) & keep, which the processor computes alongside the product.
// It equals c1 FlushTiny(sum) except that a flushed lane gives +0 where
// c1 * +0 may be -0; a zero's sign cannot change a later sum other than by
// the sign of a zero result (x + -0 = x + +0 = x for x != 0), and a zero
// result is flushed to +0 anyway. The same holds for a zero input, whose
// term g * 0 (g is finite and positive) a silent step leaves out.
// The tape keeps flushed outputs, as the history states them.
//
// A speculative step (kSpeculative) leaves the flush out altogether: the
// first product is c1 y_1 straight from the unmasked sum, and the sum goes
// to the tape as it is; it only keeps the smallest |sum| (two instructions
// instead of the mask's six, none on the chain). While no flush could have
// acted (FlushMayHaveActed) every speculative sum was its own flushed value,
// so each step saw exactly the history the exact step sees and wrote the
// same tape; the caller reruns the frame with exact steps otherwise. Exact
// and speculative steps may follow each other once run.sum is a flushed
// value (BesselRun::StartSpeculating; the mask of all ones then differs from
// the exact mask only for a +0, by a zero's sign as above).
template <bool kSilent, bool kSpeculative = false>
inline Stereo BesselStep(const StereoBesselCoefficients& k, BesselRun& run, Stereo x) {
  const Stereo* y = run.top;
  const Stereo* c = k.c;
  // Hides where y and c point, so the older outputs and the coefficients are
  // read from memory at each step: the registers stay free for the values
  // on the dependent chains instead of holding (and spilling) those.
  __asm__("" : "+r"(y), "+r"(c));
  const Stereo first =
      kSpeculative ? c[1] * run.sum : (Stereo)_mm_and_pd((__m128d)(c[1] * run.sum), run.keep);
  Stereo sum = kSilent ? first : first + k.g * x;
  sum += c[2] * y[-2];
  sum += c[3] * y[-3];
  sum += c[4] * y[-4];
  sum += c[5] * y[-5];
  sum += c[6] * y[-6];
  sum += c[7] * y[-7];
  sum += c[8] * y[-8];
  sum += c[9] * y[-9];
  sum += c[10] * y[-10];
  run.sum = sum;
  if (kSpeculative) {
    run.smallest =
        _mm_min_pd(run.smallest, _mm_andnot_pd(_mm_set1_pd(-0.0), (__m128d)sum));
    *run.top++ = sum;
    return sum;
  }
  run.keep = KeepMask(sum);
  const Stereo output = (Stereo)_mm_and_pd((__m128d)sum, run.keep);
  *run.top++ = output;
  return output;
}

// Frames per chunk: 64 at 4x, 16 at 16x; a chunk's sub-frames and the next
// frame's fit on a tape.
constexpr int kMaxOversampling = 16;
constexpr int kChunkSubFrames = 256;
constexpr int kMaxChunk = 64;
inline int ChunkFrames(int N) { return std::min(kMaxChunk, kChunkSubFrames / N); }
constexpr int kTapeCapacity = 11 + kChunkSubFrames + kMaxOversampling;
typedef StereoBesselTape<kTapeCapacity> BesselTape;

}  // namespace
}  // namespace kestrune
