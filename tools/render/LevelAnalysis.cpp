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
      const double raw = std::isfinite(outputs[c][n]) ? outputs[c][n] : 0.0;
      const double out = clipAtFullScale_ ? std::clamp(raw, -1.0, 1.0) : raw;
      inputSquares_ += in * in;
      outputSquares_ += out * out;
      inputPeak_ = std::max(inputPeak_, std::fabs(in));
      outputPeak_ = std::max(outputPeak_, std::fabs(out));
      windowClipped_ = windowClipped_ || std::fabs(raw) > 1.0;
    }
    ++frames_;
    if (++inWindow_ == windowFrames_) CloseWindow();
  }
}

void LevelAnalysis::Finish() {
  if (inWindow_ > 0) CloseWindow();
  if (pending_.count > 0) FlushPlotWindow();
}

void LevelAnalysis::CloseWindow() {
  const double count = 2.0 * static_cast<double>(inWindow_);
  const double inPower = inputSquares_ / count, outPower = outputSquares_ / count;
  const double inDb = ToDb(std::sqrt(inPower));
  const double outDb = ToDb(std::sqrt(outPower));
  const double reduction = inDb > kSilenceDb ? std::min(0.0, outDb - makeupDb_ - inDb) : 0.0;
  largestReduction_ = std::min(largestReduction_, reduction);
  if (inDb > kSilenceDb) finalReduction_ = reduction;
  pending_.inPower += inPower;
  pending_.outPower += outPower;
  pending_.reduction = std::min(pending_.reduction, reduction);
  pending_.clipped = pending_.clipped || windowClipped_;
  if (++pending_.count == stride_) FlushPlotWindow();
  windowClipped_ = false;
  inputTotal_ += inputSquares_;
  outputTotal_ += outputSquares_;
  inputSquares_ = outputSquares_ = 0;
  inWindow_ = 0;
}

// The plot's window: `stride_` measuring windows, levels by their mean
// power, the level change by the largest drop among them.
void LevelAnalysis::FlushPlotWindow() {
  const double count = static_cast<double>(pending_.count);
  inputDb_.push_back(ToDb(std::sqrt(pending_.inPower / count)));
  outputDb_.push_back(ToDb(std::sqrt(pending_.outPower / count)));
  reductionDb_.push_back(pending_.reduction);
  clipped_.push_back(pending_.clipped ? 1 : 0);
  pending_ = PlotWindow();
  if (inputDb_.size() >= kMaxWindows) HalveWindows();
}

// Past kMaxWindows, neighbours become one and later windows are twice as
// long: memory stays the same however long the stream.
void LevelAnalysis::HalveWindows() {
  auto power = [](double db) { return std::pow(10.0, db / 10.0); };
  const size_t half = inputDb_.size() / 2;
  for (size_t i = 0; i < half; ++i) {
    const size_t a = 2 * i, b = 2 * i + 1;
    inputDb_[i] = std::max(10.0 * std::log10(0.5 * (power(inputDb_[a]) + power(inputDb_[b]))), kFloorDb);
    outputDb_[i] = std::max(10.0 * std::log10(0.5 * (power(outputDb_[a]) + power(outputDb_[b]))), kFloorDb);
    reductionDb_[i] = std::min(reductionDb_[a], reductionDb_[b]);
    clipped_[i] = clipped_[a] | clipped_[b];
  }
  for (auto* values : {&inputDb_, &outputDb_, &reductionDb_}) values->resize(half);
  clipped_.resize(half);
  stride_ *= 2;
}

double LevelAnalysis::InputRmsDb() const {
  return frames_ ? ToDb(std::sqrt(inputTotal_ / (2.0 * static_cast<double>(frames_)))) : kFloorDb;
}

double LevelAnalysis::OutputRmsDb() const {
  return frames_ ? ToDb(std::sqrt(outputTotal_ / (2.0 * static_cast<double>(frames_)))) : kFloorDb;
}

double LevelAnalysis::LargestReductionDb() const { return -largestReduction_; }

double LevelAnalysis::FinalReductionDb() const { return -finalReduction_; }

}  // namespace render
