// The saturation stage of the signal path's AVX2 copy: the up- and
// down-sampling Bessel filters in one four-lane vector, and the driver that
// puts the rest of each frame's work between their steps.
#pragma once

#include <algorithm>
#include <cstring>
#include <utility>

#include "BesselStages.h"
#include "CurveStages.h"
#include "LaneVectors.h"
#include "PathState.h"

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

// The up- and down-sampling filters in one four-lane vector: lanes 0 and 1
// the up-sampling filter (left, right), lanes 2 and 3 the down-sampling
// filter. Both use the same coefficients and step at the same time in the
// pipeline, so one four-lane step does the work of the two two-lane steps,
// with half the instructions around the same dependent chain. Each lane's
// arithmetic is the stated one, step by step, g x included also where x is
// 0 (BesselStep explains the flush mask and the speculative steps).
//
// The tape holds one four-lane entry per step. Up-sampling runs one frame
// ahead: at the start of a block its first frame runs alone (Produce), the
// down-sampling lanes computing nothing of use; the down-sampling history
// is then written into the last eleven entries, where the following steps
// read it. At the end of a block the last frame's down-sampling runs with
// the up-sampling lanes stepping on zeros past the end of the up-sampling
// filter's history, which Store therefore reads N entries back.
struct WideChains {
  struct Storage {  // see NarrowChains
    Quad c[11];  // c[0] holds g, the input gain
    Quad tape[kTapeCapacity];
    Stereo downInputs[2][kMaxOversampling];
    Stereo downHistory[11];
  };
  Storage* store;
  Quad* top;  // where the next step's output goes; top[-1] the newest
  Quad sum;   // the newest output before the flush
  QuadMask keep;
  Quad smallest;
  int N;
  Stereo gainN, drive;
  Stereo* pending;
  Stereo* filling;

  KESTRUNE_WIDE void Load(const PathState& path, int n, Stereo driveFactor, Storage& storage) {
    store = &storage;
    const BesselCoefficients& L = path.besselLeft;
    const BesselCoefficients& R = path.besselRight;
    storage.c[0] = Quad{L.g, R.g, L.g, R.g};
    for (int k = 1; k <= 10; ++k) storage.c[k] = Quad{L.c[k], R.c[k], L.c[k], R.c[k]};
    for (int k = 0; k <= 10; ++k) {
      storage.tape[10 - k] = Quad{path.upLeft.y[k], path.upRight.y[k], 0, 0};
      storage.downHistory[k] = Stereo{path.downLeft.y[k], path.downRight.y[k]};
    }
    top = storage.tape + 11;
    StartSpeculating();
    N = n;
    gainN = Both(n);
    drive = driveFactor;
    pending = storage.downInputs[0];
    filling = storage.downInputs[1];
  }
  KESTRUNE_WIDE void Store(PathState& path) const {
    for (int k = 0; k <= 10; ++k) {
      const Stereo up = LowHalf(top[-N - 1 - k]);
      const Stereo down = HighHalf(top[-1 - k]);
      path.upLeft.y[k] = up[0];
      path.upRight.y[k] = up[1];
      path.downLeft.y[k] = down[0];
      path.downRight.y[k] = down[1];
    }
  }
  KESTRUNE_WIDE void Reserve(int steps) {
    if (top + steps <= store->tape + kTapeCapacity) return;
    std::memmove(store->tape, top - 11, 11 * sizeof(Quad));
    top = store->tape + 11;
  }
  KESTRUNE_WIDE void StartSpeculating() {
    sum = top[-1];
    keep = QuadMask{-1, -1, -1, -1};
  }

  template <bool kSpeculative>
  KESTRUNE_WIDE Quad Step(Quad x) {
    const Quad* y = top;
    const Quad* k = store->c;
    __asm__("" : "+r"(y), "+r"(k));  // see BesselStep
    const Quad first = kSpeculative ? k[1] * sum : (Quad)((QuadMask)(k[1] * sum) & keep);
    Quad s = first + k[0] * x;
    s += k[2] * y[-2];
    s += k[3] * y[-3];
    s += k[4] * y[-4];
    s += k[5] * y[-5];
    s += k[6] * y[-6];
    s += k[7] * y[-7];
    s += k[8] * y[-8];
    s += k[9] * y[-9];
    s += k[10] * y[-10];
    sum = s;
    const Quad magnitude = Magnitude(s);
    if (kSpeculative) {
      smallest = smallest < magnitude ? smallest : magnitude;  // as _mm_min_pd
      *top++ = s;
      return s;
    }
    keep = (magnitude >= All(0x1p-54)) & (magnitude <= All(1.7976931348623157e308));
    const Quad output = (Quad)((QuadMask)s & keep);
    *top++ = output;
    return output;
  }

  template <int kN>
  KESTRUNE_WIDE void Produce(Stereo in) {
    const int n = kN > 0 ? kN : N;
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      const Quad out = Step<false>(Join(j == 0 ? in : Both(0), Both(0)));
      filling[j] = LowHalf(out);
    }
    std::swap(pending, filling);
    for (int k = 0; k <= 10; ++k)
      top[-1 - k] = Join(LowHalf(top[-1 - k]), store->downHistory[k]);
  }

  struct Mark {
    Quad* top;
  };
  KESTRUNE_WIDE Mark Position() const { return Mark{top}; }
  KESTRUNE_WIDE void Rewind(const Mark& mark) {
    top = mark.top;
    StartSpeculating();
    std::swap(pending, filling);
  }
  KESTRUNE_WIDE void ResetSmallest() { smallest = All(__builtin_inf()); }
  // As kestrune::FlushMayHaveActed, for all four lanes.
  KESTRUNE_WIDE bool FlushMayHaveActed() const {
    const QuadMask fine =
        (Magnitude(sum) <= All(1.7976931348623157e308)) & (smallest >= All(0x1p-54));
    return (fine[0] & fine[1] & fine[2] & fine[3]) == 0;
  }

  // stage(s) for s = 0 .. 3 runs after step min(s, N - 1): RunStagedSaturation
  // puts other work between the steps.
  template <bool kNext, int kN, bool kSpeculative, class Stage>
  KESTRUNE_WIDE Stereo Frame(Stereo next, Stage&& stage) {
    const int n = kN > 0 ? kN : N;
    Stereo first = Both(0);
    Quad saturated = All(0);
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
      // The saturation of two sub-frames at a time (one when a last is left).
      Stereo downInput;
      if (j % 2 == 1) {
        downInput = HighHalf(saturated);
      } else if (j + 1 < n) {
        saturated = SaturateQuad(Join(pending[j], pending[j + 1]), Join(gainN, gainN),
                                 Join(drive, drive));
        downInput = LowHalf(saturated);
      } else {
        downInput = Saturate(pending[j], gainN, drive);
      }
      const Stereo upInput = kNext && j == 0 ? next : Both(0);
      const Quad out = Step<kSpeculative>(Join(upInput, downInput));
      if (kNext) filling[j] = LowHalf(out);
      if (j == 0) first = HighHalf(out);
      if (j < 3 && j < n - 1) stage(j);
      if (j == n - 1)
        for (int s = std::min(j, 3); s <= 3; ++s) stage(s);
    }
    std::swap(pending, filling);
    return first;
  }
};

// RunSaturation with the rest of each frame split into four stages
// (work(m, s, saturation of frame m) for s = 0 .. 3), which run between the
// filter steps of the frame after it (see WideChains::Frame): each stage
// finds the results of the stage before it ready, a filter step later, and
// the instructions waiting on the chains at any time are fewer. A frame's
// work only runs once the frame is verified (its successor's steps run after
// the check); the rerun of a frame does not repeat the work of the frame
// before it. The chunk's last frame is worked on after the chunk.
template <int kN, class Chains, class Work>
inline __attribute__((always_inline)) void RunStagedSaturation(
    Chains& chains, const double* const* inputs, int start, int count, int frames, Work&& work) {
  if (start == 0) chains.template Produce<kN>(Stereo{inputs[0][0], inputs[1][0]});
  chains.StartSpeculating();
  Stereo previous = Both(0);
  int workFrom = 0;  // the first frame whose work has not run
  int n = 0;
  for (; n < count; ++n) {
    const int next = start + n + 1;
    const typename Chains::Mark mark = chains.Position();
    chains.ResetSmallest();
    const bool doWork = n - 1 >= workFrom;
    auto stage = [&](int s) __attribute__((always_inline)) {
      if (doWork) work(n - 1, s, previous);
    };
    const Stereo saturation =
        next < frames
            ? chains.template Frame<true, kN, true>(Stereo{inputs[0][next], inputs[1][next]},
                                                    stage)
            : chains.template Frame<false, kN, true>(Both(0), stage);
    if (__builtin_expect(chains.FlushMayHaveActed(), 0)) {
      chains.Rewind(mark);
      workFrom = n;
      break;
    }
    previous = saturation;
  }
  for (; n < count; ++n) {
    const int next = start + n + 1;
    const bool doWork = n - 1 >= workFrom;
    auto stage = [&](int s) __attribute__((always_inline)) {
      if (doWork) work(n - 1, s, previous);
    };
    const Stereo saturation =
        next < frames
            ? chains.template Frame<true, kN, false>(Stereo{inputs[0][next], inputs[1][next]},
                                                     stage)
            : chains.template Frame<false, kN, false>(Both(0), stage);
    previous = saturation;
  }
  for (int s = 0; s <= 3; ++s) work(count - 1, s, previous);
}

}  // namespace
}  // namespace kestrune
