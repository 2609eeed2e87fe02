// The saturation stage of the signal path's baseline copy: the up- and
// down-sampling Bessel filters in two-lane vectors, run as a pipeline one
// frame deep, and the driver that runs a chunk of frames through either
// this copy's chains or the AVX2 copy's (WideChains.h) with speculative
// filter steps.
#pragma once

#include <cmath>
#include <utility>

#include "BesselStages.h"
#include "CurveStages.h"
#include "LaneVectors.h"
#include "PathState.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

// The saturation stage runs as a pipeline one frame deep: while the
// down-sampling filter takes the N sub-frames of frame f, the up-sampling
// filter and the saturation curve already produce those of frame f + 1.
// The two dependent chains then run side by side, and the saturation's
// latency between them is off both. Per sub-frame j the arithmetic is the
// one stated: up-sampling step (the input in sub-frame 0, zeros after it),
// saturation curve, down-sampling step.
struct SaturationPipeline {
  const StereoBesselCoefficients* bessel;
  int N;
  Stereo gainN, drive;
  Stereo* pending;  // down-sampling inputs of the frame that comes next
  Stereo* filling;  // those of the frame after it, being produced

  // The up-sampling half for one frame: fills `filling`.
  template <int kN>
  void Produce(BesselRun& up, Stereo in) {
    const int n = kN > 0 ? kN : N;
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      const Stereo u = j == 0 ? BesselStep<false>(*bessel, up, in)
                              : BesselStep<true>(*bessel, up, Both(0));
      filling[j] = Saturate(u, gainN, drive);
    }
    std::swap(pending, filling);
  }

  // The down-sampling half of the pending frame, interleaved with the
  // up-sampling half of the next one when there is one (kNext). Returns the
  // down-sampling output of sub-frame 0, flushed.
  template <bool kNext, int kN, bool kSpeculative>
  Stereo Frame(BesselRun& up, BesselRun& down, Stereo next) {
    const int n = kN > 0 ? kN : N;
    Stereo first = Both(0);
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      if (kNext) {
        const Stereo u = j == 0 ? BesselStep<false, kSpeculative>(*bessel, up, next)
                                : BesselStep<true, kSpeculative>(*bessel, up, Both(0));
        filling[j] = Saturate(u, gainN, drive);
      }
      const Stereo d = BesselStep<false, kSpeculative>(*bessel, down, pending[j]);
      if (j == 0) first = d;
    }
    std::swap(pending, filling);
    return first;
  }
};

// The two Bessel filters of the saturation stage, as the pipeline above
// runs them with the tapes of their histories: up- and down-sampling
// filters in two-lane vectors, side by side. RunSaturation drives either
// this or WideChains through the same operations.
//
// The arrays live in a Storage of their own, so that the compiler can keep
// the chains' small state (tape positions, newest sums, masks) in registers.
struct NarrowChains {
  struct Storage {
    StereoBesselCoefficients bessel;
    BesselTape upTape, downTape;
    Stereo downInputs[2][kMaxOversampling];
  };
  Storage* store;
  BesselRun up, down;
  SaturationPipeline pipeline;

  void Load(const PathState& path, int N, Stereo drive, Storage& storage) {
    store = &storage;
    storage.bessel.Load(path.besselLeft, path.besselRight);
    up.Start(storage.upTape.Load(path.upLeft, path.upRight));
    down.Start(storage.downTape.Load(path.downLeft, path.downRight));
    pipeline.bessel = &storage.bessel;
    pipeline.N = N;
    pipeline.gainN = Both(N);
    pipeline.drive = drive;
    pipeline.pending = storage.downInputs[0];
    pipeline.filling = storage.downInputs[1];
  }
  void Store(PathState& path) const {
    BesselTape::Store(up.top, path.upLeft, path.upRight);
    BesselTape::Store(down.top, path.downLeft, path.downRight);
  }
  // Room for `steps` more steps of each filter.
  void Reserve(int steps) {
    up.top = store->upTape.Reserve(up.top, steps);
    down.top = store->downTape.Reserve(down.top, steps);
  }
  template <int kN>
  void Produce(Stereo in) {
    pipeline.Produce<kN>(up, in);
  }
  void StartSpeculating() {
    up.StartSpeculating();
    down.StartSpeculating();
  }
  struct Mark {
    Stereo* up;
    Stereo* down;
  };
  Mark Position() const { return Mark{up.top, down.top}; }
  // Back to `mark`, taken before the frame just run; the tapes up to it
  // hold verified (flushed) values.
  void Rewind(const Mark& mark) {
    up.top = mark.up;
    down.top = mark.down;
    StartSpeculating();
    std::swap(pipeline.pending, pipeline.filling);
  }
  void ResetSmallest() { up.smallest = down.smallest = _mm_set1_pd(__builtin_inf()); }
  bool FlushMayHaveActed() const { return kestrune::FlushMayHaveActed(up, down); }
  template <bool kNext, int kN, bool kSpeculative>
  Stereo Frame(Stereo next) {
    return pipeline.Frame<kNext, kN, kSpeculative>(up, down, next);
  }
};

// The saturation stage for frames start .. start + count - 1 of a block.
// After each frame's saturation, perFrame(n, saturation) runs the rest of
// frame start + n: its instructions follow the filter steps in the stream,
// so the processor works on them while the filters' dependent chains wait.
// The block's first frame is produced here too; the frame after the chunk is
// produced when the block has one.
//
// Frames run with speculative Bessel steps (no flush on the chains) until a
// flush would have changed a bit: that frame runs again from the state
// before it with exact steps, and so does the rest of the chunk (material
// decaying into the flush range would otherwise rerun frame after frame).
// Every frame's result is therefore the exact one. The two loops are kept
// apart so that each keeps its filter state in registers.
template <int kN, class Chains, class PerFrame>
inline __attribute__((always_inline)) void RunSaturation(
    Chains& chains, const double* const* inputs, int start, int count, int frames,
    PerFrame&& perFrame) {
  if (start == 0) chains.template Produce<kN>(Stereo{inputs[0][0], inputs[1][0]});
  chains.StartSpeculating();
  int n = 0;
  for (; n < count; ++n) {
    const int next = start + n + 1;
    const typename Chains::Mark mark = chains.Position();
    chains.ResetSmallest();
    const Stereo saturation =
        next < frames
            ? chains.template Frame<true, kN, true>(Stereo{inputs[0][next], inputs[1][next]})
            : chains.template Frame<false, kN, true>(Both(0));
    if (__builtin_expect(chains.FlushMayHaveActed(), 0)) {
      chains.Rewind(mark);
      break;
    }
    perFrame(n, saturation);
  }
  for (; n < count; ++n) {
    const int next = start + n + 1;
    const Stereo saturation =
        next < frames
            ? chains.template Frame<true, kN, false>(Stereo{inputs[0][next], inputs[1][next]})
            : chains.template Frame<false, kN, false>(Both(0));
    perFrame(n, saturation);
  }
}

}  // namespace
}  // namespace kestrune
