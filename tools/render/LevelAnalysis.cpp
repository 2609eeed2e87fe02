#include "LevelAnalysis.h"

#include <algorithm>
#include <cmath>

namespace render {

LevelAnalysis::LevelAnalysis(double sampleRate)
    : sampleRate_(sampleRate > 0 ? sampleRate : 48000.0),
      windowFrames_(std::max<size_t>(1, static_cast<size_t>(std::lround(sampleRate_ * kWindowSeconds)))) {}

double LevelAnalysis::ToDb(double linear) {
  return linear > 0 ? std::max(20.0 * std::log10(linear), kFloorDb) : kFloorDb;
}

void LevelAnalysis::Add(const double* const* inputs, const double* const* outputs, size_t frames) {
  for (size_t n = 0; n < frames; ++n) {
    for (int c = 0; c < 2; ++c) {
      // A non-finite sample (reported elsewhere) would spoil every figure.
      const double in = std::isfinite(inputs[c][n]) ? inputs[c][n] : 0.0;
      const double out = std::isfinite(outputs[c][n]) ? outputs[c][n] : 0.0;
      inputSquares_ += in * in;
      outputSquares_ += out * out;
      inputPeak_ = std::max(inputPeak_, std::fabs(in));
      outputPeak_ = std::max(outputPeak_, std::fabs(out));
      windowClipped_ = windowClipped_ || std::fabs(out) > 1.0;
    }
    ++frames_;
    if (++inWindow_ == windowFrames_) CloseWindow();
  }
}

void LevelAnalysis::Finish() {
  if (inWindow_ > 0) CloseWindow();
}

void LevelAnalysis::CloseWindow() {
  const double count = 2.0 * static_cast<double>(inWindow_);
  const double inDb = ToDb(std::sqrt(inputSquares_ / count));
  const double outDb = ToDb(std::sqrt(outputSquares_ / count));
  inputDb_.push_back(inDb);
  outputDb_.push_back(outDb);
  clipped_.push_back(windowClipped_ ? 1 : 0);
  windowClipped_ = false;
  reductionDb_.push_back(inDb > kSilenceDb ? std::min(0.0, outDb - makeupDb_ - inDb) : 0.0);
  inputTotal_ += inputSquares_;
  outputTotal_ += outputSquares_;
  inputSquares_ = outputSquares_ = 0;
  inWindow_ = 0;
}

double LevelAnalysis::InputRmsDb() const {
  return frames_ ? ToDb(std::sqrt(inputTotal_ / (2.0 * static_cast<double>(frames_)))) : kFloorDb;
}

double LevelAnalysis::OutputRmsDb() const {
  return frames_ ? ToDb(std::sqrt(outputTotal_ / (2.0 * static_cast<double>(frames_)))) : kFloorDb;
}

double LevelAnalysis::LargestReductionDb() const {
  double most = 0;
  for (double r : reductionDb_) most = std::min(most, r);
  return -most;
}

double LevelAnalysis::FinalReductionDb() const {
  for (size_t i = reductionDb_.size(); i-- > 0;) {
    if (inputDb_[i] > kSilenceDb) return -reductionDb_[i];
  }
  return 0;
}

}  // namespace render
