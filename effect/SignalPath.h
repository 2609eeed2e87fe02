// The signal path the plug-in runs (see PathState.h for what it computes and
// for the straightforward implementation it equals bit for bit).
//
// Its processing loop is compiled twice: for any x86-64 processor, and for
// AVX2 processors (x86-64 ELF builds, and MinGW builds). Each instance picks
// a copy when it processes: by default the AVX2 copy where the processor has
// AVX2; SelectCode pins one (the tests run every case on each copy).
//
// The loop's stages live in headers of their own, private to this path's
// sources: LaneVectors.h (two- and four-lane vectors), BesselStages.h (the
// Bessel filters on tapes), TargetGainBounds.h (the gain computer's bounds),
// CurveStages.h (curve lookups), NarrowChains.h and WideChains.h (the
// saturation stage's filter chains for the baseline and the AVX2 copy) and
// SignalPathFrames.h (the loop itself).
#pragma once

#include "PathState.h"

namespace kestrune {

// Which compiled copy of the processing loop runs. Automatic: the AVX2 copy
// where the processor has AVX2 and the build has that copy, else Baseline,
// the copy for any x86-64 processor. Both give the same bits. Avx2 where it
// cannot run falls back to Baseline.
enum class PathCode { Automatic, Baseline, Avx2 };

class SignalPath : public PathState {
 public:
  void Process(const BlockSettings& settings, const double* const* inputs,
               double* const* outputs, int frames);

  // Pins the copy this instance runs from its next block on.
  void SelectCode(PathCode code) { code_ = code; }
  // The copy Process runs now (never Automatic).
  PathCode CodeInUse() const;

 protected:
  // Process, telling `tally` about the gain computer's targets: Above(n)
  // for n more frames whose level was above the threshold (INPUT not 0),
  // Exact() for each of them whose exact target had to be computed because
  // a conservative bound could not show that it leaves the smoothed gain
  // unchanged. Process runs it with a tally that does nothing; defined in
  // SignalPathFrames.h, so that a test's tally is compiled into the test.
  template <class Tally>
  void ProcessTallying(const BlockSettings& settings, const double* const* inputs,
                       double* const* outputs, int frames, Tally& tally);

 private:
  template <class Tally>
  friend struct SignalPathKernels;  // the per-instruction-set copies
  // The processing loop; inlined into each copy, never called on its own.
  // kWide: the filters in four-lane vectors (for the AVX2 copy).
  template <int kOversampling, bool kWide, class Tally>
  __attribute__((always_inline)) inline void RunFrames(const BlockSettings& settings,
                                                       const double* const* inputs,
                                                       double* const* outputs, int frames,
                                                       Tally& tally);
  void UpdateCoefficients(const BlockSettings& settings);
  // True when the pipeline runs the factor in `params`; otherwise the block
  // takes RunStraightforward.
  bool PipelineRunsFactor() const;

  // Coefficients that only change with their inputs, and those inputs.
  struct Cache {
    bool valid = false;
    double sampleRate = 0, inputDrive = 0, attackTime = 0, releaseTime = 0, ratioValue = 0;
    double hpfFrequency = 0, hfValue = 0, midFrequency = 0, midGainDb = 0;
    int slam = 0, oversampling = 0;
    double levelCoefficient = 0;    // the level detector's 10 Hz one-pole coefficient
    double threshold = 0;           // from INPUT, on the 6-per-doubling scale
    double ratio = 0;               // RATIO's value, or 500 with SLAM
    double attackCoefficient = 0;   // the factor the gain may fall by per frame
    double releaseCoefficient = 0;  // 1 / the factor it may rise by per frame
    double meterCoefficient = 0;    // the meter's 0.3 s smoothing
  } cache_;
  PathCode code_ = PathCode::Automatic;
};

}  // namespace kestrune
