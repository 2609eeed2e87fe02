// The signal path's processing loop, and the two compiled copies of it
// (see SignalPath.h). Same arithmetic, operation for operation, as
// RunStraightforward, arranged for speed:
//  - coefficients that depend only on the sample rate and the parameters are
//    computed when those change, not every frame (same inputs, same bits);
//  - left and right run together in two-lane vectors (per-lane IEEE
//    arithmetic, no fused operations, so each lane equals the scalar result);
//  - the Bessel histories live on tapes during a block instead of being
//    shifted every sub-frame, and the flush of each Bessel output is kept
//    off the filter's dependent chain (see BesselStep, BesselStages.h);
//    frames run without the flush at all while it could not have acted, and
//    again exactly when it could (see RunSaturation, NarrowChains.h);
//  - the saturation stage runs the down-sampling filter of one frame beside
//    the up-sampling filter of the next (see SaturationPipeline);
//  - per chunk of frames, cheap bounds on the gain computer's targets run in
//    a short loop of their own; the rest of each frame (smoothing, meter,
//    outputs, and the sidechain and level of the frame one chunk ahead) runs
//    beside the saturation stage, filling the time its filter chains leave
//    idle. The exact target (a log and an exp) is computed only in the rare
//    frames where the bounds cannot show that attack or release limits the
//    gain anyway (see TargetBounds, TargetGainBounds.h);
//  - the loop is compiled a second time for AVX2 processors, picked at
//    first use (see SignalPathKernels below); that copy runs the up- and
//    down-sampling filters together in four-lane vectors and the saturation
//    curve of two sub-frames at a time (see WideChains.h, SaturateQuad). It
//    keeps beside the chains only what must run frame by frame (smoothing,
//    meter, the sidechain equaliser), split into stages between the filter
//    steps (see RunStagedSaturation); the target bounds, outputs, detector
//    and level run four frames at a time, frame by lane, in short loops
//    around each chunk.
//
// Included by SignalPath.cpp, which compiles the copies the plug-in runs,
// and by whatever needs the loop with a tally of its own
// (SignalPath::ProcessTallying).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "BesselStages.h"
#include "CurveStages.h"
#include "DenormalGuard.h"
#include "LaneVectors.h"
#include "NarrowChains.h"
#include "SidechainStages.h"
#include "SignalPath.h"
#include "TargetGainBounds.h"
#include "WideChains.h"

namespace kestrune {

// The processing loop compiled twice: for any x86-64 processor, and with
// AVX2 enabled (VEX encoding, three-operand instructions, fewer register
// copies on the filter chains). The copies do the same IEEE operations in
// the same order: the build has -ffp-contract=off and "avx2" does not enable
// FMA, so no multiply-add is fused and every lane rounds exactly as before.
// Everything the loop inlines is compiled into each copy; what it calls
// (exp, log, the editor) is the one shared code. MinGW's compiler cannot
// align 32-byte stack slots (the Windows stack keeps 16 bytes), so its build
// of this file assembles every aligned vector move as an unaligned one
// (KESTRUNE_UNALIGNED_VECTOR_MOVES, see CMakeLists.txt): the same
// instructions where the address is aligned, and no fault where it is not.
#if defined(__GNUC__) && defined(__x86_64__) && \
    (defined(__ELF__) || defined(KESTRUNE_UNALIGNED_VECTOR_MOVES))
#define KESTRUNE_AVX2_KERNEL 1
#else
#define KESTRUNE_AVX2_KERNEL 0
#endif

template <class Tally>
struct SignalPathKernels {
  static void Baseline(SignalPath& path, const BlockSettings& settings,
                       const double* const* inputs, double* const* outputs, int frames,
                       Tally& tally) {
    switch (path.params.oversampling) {
      case 4: path.RunFrames<4, false>(settings, inputs, outputs, frames, tally); break;
      case 16: path.RunFrames<16, false>(settings, inputs, outputs, frames, tally); break;
      default: path.RunFrames<0, false>(settings, inputs, outputs, frames, tally); break;
    }
  }
#if KESTRUNE_AVX2_KERNEL
  __attribute__((target("avx2"))) static void Avx2(SignalPath& path,
                                                   const BlockSettings& settings,
                                                   const double* const* inputs,
                                                   double* const* outputs, int frames,
                                                   Tally& tally) {
    switch (path.params.oversampling) {
      case 4: path.RunFrames<4, true>(settings, inputs, outputs, frames, tally); break;
      case 16: path.RunFrames<16, true>(settings, inputs, outputs, frames, tally); break;
      default: path.RunFrames<0, true>(settings, inputs, outputs, frames, tally); break;
    }
  }
#endif
};

template <class Tally>
void SignalPath::ProcessTallying(const BlockSettings& settings, const double* const* inputs,
                                 double* const* outputs, int frames, Tally& tally) {
  DenormalGuard denormals;
  UpdateCoefficients(settings);
  if (frames <= 0) return;
  if (!PipelineRunsFactor()) {
    RunStraightforward(*this, settings, inputs, outputs, frames);
    return;
  }
#if KESTRUNE_AVX2_KERNEL
  if (CodeInUse() == PathCode::Avx2) {
    SignalPathKernels<Tally>::Avx2(*this, settings, inputs, outputs, frames, tally);
    return;
  }
#endif
  SignalPathKernels<Tally>::Baseline(*this, settings, inputs, outputs, frames, tally);
}

// One block, frames 0 .. frames - 1. kOversampling 0: the factor is read
// from the parameters at run time. Inlined into each per-instruction-set
// copy (SignalPathKernels).
template <int kOversampling, bool kWide, class Tally>
inline void SignalPath::RunFrames(const BlockSettings& settings, const double* const* inputs,
                                  double* const* outputs, int frames, Tally& tally) {
  const Cache& cached = cache_;
  const int oversampling = kOversampling > 0 ? kOversampling : params.oversampling;

  StereoBiquad highPass, peaking, highShelf;
  highPass.Load(state.highPassLeft, state.highPassRight);
  peaking.Load(state.peakingLeft, state.peakingRight);
  highShelf.Load(state.highShelfLeft, state.highShelfRight);

  const double wetFactor = params.mixPercent / 100;
  const double dryFactor = 1 - wetFactor;
  state.wetFactor = wetFactor;
  state.dryFactor = dryFactor;
  const double driveFactor = params.inputDrive / 10 + 1;
  const bool slam = settings.slam == 1;
  const bool noReduction = params.inputDrive == 0;
  const bool bypass = settings.bypass != 0;
  EditorFeed* const meterFeed = settings.meter;
  const double* sourceLeft = settings.sidechain == 1 ? inputs[0] : inputs[2];
  const double* sourceRight = settings.sidechain == 1 ? inputs[1] : inputs[3];

  typedef typename std::conditional<kWide, WideChains, NarrowChains>::type Chains;
  typename Chains::Storage chainStorage;
  Chains chains;
  chains.Load(*this, oversampling, Both(driveFactor), chainStorage);
  double gainState = state.gainState;
  double meterState = state.meterState;
  Stereo sidechain = Stereo{state.sidechainLeft, state.sidechainRight};

  // The block runs in chunks. For each chunk, bounds on the gain computer's
  // targets come first, in a short loop of their own; everything else of a
  // frame runs beside the saturation stage, whose long dependent chains
  // leave the processor idle most of the time: the smoothing (which needs
  // the exact target, a maths-library call, only where the bounds cannot
  // decide), meter, outputs and the sidechain equaliser and level of the
  // frame one chunk ahead.
  const int chunkFrames = ChunkFrames(oversampling);
  const TargetBounds targetBounds(cached.threshold, params.inputDrive, cached.ratio);
  double levelBuffers[2][kMaxChunk], lowerTargets[kMaxChunk], upperTargets[kMaxChunk];
  double* levels = levelBuffers[0];       // of the chunk being run
  double* levelsAhead = levelBuffers[1];  // of the chunk after it
  Stereo saturation = Stereo{state.saturationLeft, state.saturationRight};

  // Sidechain equaliser (high-pass, peaking, high shelf, in single-precision
  // steps) of `frame`, into `sidechain`.
  auto equaliseSidechain = [&](int frame) __attribute__((always_inline)) {
    Stereo x = highPass.Tick(ToSingle(Stereo{sourceLeft[frame], sourceRight[frame]}));
    x = peaking.Tick(ToSingle(x));
    x = highShelf.Tick(ToSingle(x));
    sidechain = ToSingle(x);
  };
  // The stereo-linked detector and the level of an equalised sidechain value.
  auto levelOfSidechain = [&](Stereo value) __attribute__((always_inline)) {
    double detector;
    if (slam) {
      const Stereo shaped = DetectorMagnitudes(value);
      detector = std::max(shaped[1], shaped[0]) * kGains.slamDetectorBoost;
    } else {
      detector = std::max(std::fabs(value[1]), std::fabs(value[0]));
    }
    return LevelOf(detector, cached.levelCoefficient);
  };
  auto levelOfFrame = [&](int frame) __attribute__((always_inline)) {
    equaliseSidechain(frame);
    return levelOfSidechain(sidechain);
  };

  // The AVX2 copy keeps what each frame leaves for later (gain, saturation,
  // the sidechain of the frame one chunk ahead) and finishes four frames at
  // a time in four-lane vectors, frame by lane, after the chunk: the gain
  // through the transfer curve, mix and outputs, and the detector and level
  // (and, before the chunk, the target bounds). The same operations on each
  // value in fewer instructions.
  double gains[kMaxChunk], saturationLeft[kMaxChunk], saturationRight[kMaxChunk];
  double aheadLeft[kMaxChunk], aheadRight[kMaxChunk];
  // The gain through the transfer curve, dry/wet, output gain, bypass.
  auto writeOutputs = [&](int frame, double gain, Stereo frameSaturation)
                          __attribute__((always_inline)) {
    const Stereo in = Stereo{inputs[0][frame], inputs[1][frame]};
    const double curveGain = ShapePositive(gain);
    const Stereo wet = Both(curveGain) * (Both(kGains.saturationMixLevel) * frameSaturation + in);
    if (!bypass) {
      outputs[0][frame] = (dryFactor * in[0] + wetFactor * wet[0]) * params.outputGain;
      outputs[1][frame] = (wetFactor * wet[1] + dryFactor * in[1]) * params.outputGain;
    } else {
      outputs[0][frame] = in[0];
      outputs[1][frame] = in[1];
    }
  };
  // The same for the four frames from `first` (n .. n + 3 of the chunk).
  auto writeOutputsOfFour = [&](int n, int first) __attribute__((always_inline)) {
    Quad inLeft, inRight, outLeft, outRight;
    std::memcpy(&inLeft, inputs[0] + first, sizeof(Quad));
    std::memcpy(&inRight, inputs[1] + first, sizeof(Quad));
    if (!bypass) {
      Quad gainQuad, satLeft, satRight;
      std::memcpy(&gainQuad, gains + n, sizeof(Quad));
      std::memcpy(&satLeft, saturationLeft + n, sizeof(Quad));
      std::memcpy(&satRight, saturationRight + n, sizeof(Quad));
      const Quad curveGain = ShapePositiveQuad(gainQuad);
      const Quad mixLevel = All(kGains.saturationMixLevel);
      const Quad wetLeft = curveGain * (mixLevel * satLeft + inLeft);
      const Quad wetRight = curveGain * (mixLevel * satRight + inRight);
      outLeft = (All(dryFactor) * inLeft + All(wetFactor) * wetLeft) * All(params.outputGain);
      outRight = (All(wetFactor) * wetRight + All(dryFactor) * inRight) * All(params.outputGain);
    } else {
      outLeft = inLeft;
      outRight = inRight;
    }
    std::memcpy(outputs[0] + first, &outLeft, sizeof(Quad));
    std::memcpy(outputs[1] + first, &outRight, sizeof(Quad));
  };

  for (int n = 0; n < std::min(chunkFrames, frames); ++n) levels[n] = levelOfFrame(n);

  for (int start = 0; start < frames; start += chunkFrames) {
    const int count = std::min(chunkFrames, frames - start);
    const int aheadCount = std::max(0, std::min(chunkFrames, frames - start - chunkFrames));

    // Bounds on the target gains (with INPUT at 0 the gain stays 1 and the
    // target is never used).
    if (!noReduction) {
      if constexpr (kWide) {
        for (int n = 0; n < count; n += 4)
          targetBounds.template Of<Quad, QuadBits>(levels, n, std::min(4, count - n),
                                                   lowerTargets, upperTargets, tally);
      } else {
        for (int n = 0; n < count; n += 2)
          targetBounds.OfPair(levels, n, n + 1 < count, lowerTargets, upperTargets, tally);
      }
    }

    // Oversampled saturation; only sub-frame 0 of each frame is kept.
    chains.Reserve((count + 1) * oversampling);
    // Gain computer, attack and release.
    auto smoothedGain = [&](int n) __attribute__((always_inline)) {
      return noReduction
                 ? 1.0
                 : SmoothedWithin(gainState, lowerTargets[n], upperTargets[n],
                                  cached.attackCoefficient, cached.releaseCoefficient, [&]() {
                                    return ExactTargetGain(levels[n], cached.threshold,
                                                           params.inputDrive, cached.ratio, tally);
                                  });
    };
    // Gain-reduction meter, while an editor exists.
    auto advanceMeter = [&](double gain) __attribute__((always_inline)) {
      if (meterFeed) {
        double v = std::fabs(1 - gain);
        v = Select(Greater(v, meterState), v * 1.0125, v * 0.9875);
        meterState = (meterState - v) * cached.meterCoefficient + v;
      }
    };
    auto keepLastDryInput = [&](int frame) __attribute__((always_inline)) {
      if (frame == frames - 1) {  // read before its output is written
        state.dryLeft = inputs[0][frame];
        state.dryRight = inputs[1][frame];
      }
    };
    if constexpr (!kWide) {
      // The rest of frame n of the chunk, once its saturation is known.
      auto finishFrame = [&](int n, Stereo frameSaturation) __attribute__((always_inline)) {
        const int frame = start + n;
        saturation = frameSaturation;
        const double gain = smoothedGain(n);
        gainState = gain;
        advanceMeter(gain);
        keepLastDryInput(frame);
        writeOutputs(frame, gain, frameSaturation);
        // The next chunk's sidechain and level; those frames are read
        // before any output of theirs is written (inputs may alias
        // outputs).
        if (n < aheadCount) levelsAhead[n] = levelOfFrame(frame + chunkFrames);
      };
      RunSaturation<kOversampling>(chains, inputs, start, count, frames, finishFrame);
    } else {
      // A frame's work in four stages, each using what the one before it
      // left: the next chunk's sidechain one equaliser section per stage.
      Stereo aheadValue = Both(0);
      auto finishFrameInStages = [&](int n, int stage, Stereo frameSaturation)
                                     __attribute__((always_inline)) {
        const int frame = start + n;
        const bool ahead = n < aheadCount;
        if (stage == 0) {
          saturation = frameSaturation;
          gains[n] = gainState = smoothedGain(n);
          saturationLeft[n] = frameSaturation[0];
          saturationRight[n] = frameSaturation[1];
          keepLastDryInput(frame);
          if (ahead)
            aheadValue = highPass.Tick(ToSingle(
                Stereo{sourceLeft[frame + chunkFrames], sourceRight[frame + chunkFrames]}));
        } else if (stage == 1) {
          advanceMeter(gainState);
          if (ahead) aheadValue = peaking.Tick(ToSingle(aheadValue));
        } else if (stage == 2) {
          if (ahead) aheadValue = highShelf.Tick(ToSingle(aheadValue));
        } else {
          if (ahead) {
            sidechain = ToSingle(aheadValue);
            aheadLeft[n] = sidechain[0];
            aheadRight[n] = sidechain[1];
          }
        }
      };
      RunStagedSaturation<kOversampling>(chains, inputs, start, count, frames,
                                         finishFrameInStages);
      // Outputs of four frames at a time; the detector and level of four
      // frames of the next chunk, whose inputs were read before any output
      // of theirs is written (inputs may alias outputs).
      for (int n = 0; n + 4 <= count; n += 4) writeOutputsOfFour(n, start + n);
      for (int n = 0; n + 4 <= aheadCount; n += 4) {
        Quad left, right;
        std::memcpy(&left, aheadLeft + n, sizeof(Quad));
        std::memcpy(&right, aheadRight + n, sizeof(Quad));
        const Quad level = LevelsQuad(left, right, slam, cached.levelCoefficient);
        std::memcpy(levelsAhead + n, &level, sizeof(Quad));
      }
      // The frames left over by the groups of four.
      for (int n = count & ~3; n < count; ++n)
        writeOutputs(start + n, gains[n], Stereo{saturationLeft[n], saturationRight[n]});
      for (int n = aheadCount & ~3; n < aheadCount; ++n)
        levelsAhead[n] = levelOfSidechain(Stereo{aheadLeft[n], aheadRight[n]});
    }
    std::swap(levels, levelsAhead);
  }

  state.gainState = gainState;
  state.meterState = meterState;
  if (meterFeed) meterFeed->Post(meterState);
  state.saturationLeft = saturation[0];
  state.saturationRight = saturation[1];
  state.sidechainLeft = sidechain[0];
  state.sidechainRight = sidechain[1];
  highPass.Store(state.highPassLeft, state.highPassRight);
  peaking.Store(state.peakingLeft, state.peakingRight);
  highShelf.Store(state.highShelfLeft, state.highShelfRight);
  chains.Store(*this);
}

}  // namespace kestrune
