// LevelAnalysis: what kestrune-render measures while audio passes through the
// plug-in: peak and RMS of input and output, and, in short windows, the input
// level, the output level and the gain reduction (how far the output sits
// below the input), for the summary, the plot and the editor's meter.
#pragma once

#include <cstddef>
#include <vector>

namespace render {

class LevelAnalysis {
 public:
  static constexpr double kWindowSeconds = 0.01;
  // Below this input level a window counts as silence: no gain reduction.
  static constexpr double kSilenceDb = -60.0;
  static constexpr double kFloorDb = -120.0;
  // Windows kept for the plot (the summary's figures use kWindowSeconds
  // throughout): past this many, neighbours are merged and the plot's
  // window doubles, so memory stays the same however long the stream.
  static constexpr size_t kMaxWindows = 1 << 16;

  explicit LevelAnalysis(double sampleRate);

  // A fixed gain the plug-in applies after its compressor (its output gain):
  // taken out of the gain reduction, not of the output level. Set before Add.
  void SetMakeupGainDb(double gainDb) { makeupDb_ = gainDb; }
  // Output levels as an integer file holds them: clipped at full scale.
  // Where the output went beyond it is still marked.
  void SetClipAtFullScale(bool clip) { clipAtFullScale_ = clip; }
  double MakeupGainDb() const { return makeupDb_; }

  // Adds `frames` frames of the two main input channels and the two output
  // channels (planar).
  void Add(const double* const* inputs, const double* const* outputs, size_t frames);
  // Closes the last partial window.
  void Finish();

  // The plot's window.
  double WindowSeconds() const { return static_cast<double>(windowFrames_ * stride_) / sampleRate_; }
  const std::vector<double>& InputDb() const { return inputDb_; }
  const std::vector<double>& OutputDb() const { return outputDb_; }
  // Per window, <= 0: output level minus makeup gain minus input level where
  // that is negative, 0 where it is not or where the input is silent.
  const std::vector<double>& ReductionDb() const { return reductionDb_; }

  // Per window, 1 where the output went beyond full scale.
  const std::vector<unsigned char>& ClippedWindows() const { return clipped_; }

  double InputPeakDb() const { return ToDb(inputPeak_); }
  double OutputPeakDb() const { return ToDb(outputPeak_); }
  double InputRmsDb() const;
  double OutputRmsDb() const;
  // The most reduction over the run, as a positive number of dB.
  double LargestReductionDb() const;
  // The reduction at the end of the run: the last window with signal.
  double FinalReductionDb() const;
  double DurationSeconds() const { return static_cast<double>(frames_) / sampleRate_; }

  static double ToDb(double linear);

 private:
  void CloseWindow();
  void FlushPlotWindow();
  void HalveWindows();

  double sampleRate_;
  double makeupDb_ = 0;
  bool clipAtFullScale_ = false;
  size_t windowFrames_;
  size_t inWindow_ = 0;
  double inputSquares_ = 0, outputSquares_ = 0;          // current window
  double inputTotal_ = 0, outputTotal_ = 0;              // whole run
  double inputPeak_ = 0, outputPeak_ = 0;
  size_t frames_ = 0;
  bool windowClipped_ = false;
  double largestReduction_ = 0, finalReduction_ = 0;  // <= 0
  struct PlotWindow {
    double inPower = 0, outPower = 0, reduction = 0;
    bool clipped = false;
    size_t count = 0;
  } pending_;
  size_t stride_ = 1;  // measuring windows per plot window
  std::vector<unsigned char> clipped_;
  std::vector<double> inputDb_, outputDb_, reductionDb_;
};

}  // namespace render
