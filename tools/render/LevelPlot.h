// The level plot: input and output level (dBFS) over time in the upper
// panel, with 0 dBFS and the stretches where the output went beyond it
// marked, and the level change (dB) in the lower one, with labelled axes.
// The level scale reaches down as far as the material does.
#pragma once

#include <string>
#include <vector>

#include "Canvas.h"
#include "LevelAnalysis.h"

namespace render {

constexpr int kPlotWidth = 1200;
constexpr int kPlotHeight = 640;

// Where the plot's panels are, for callers that look at its pixels.
struct PlotLayout {
  static constexpr int kLeft = 84;
  static constexpr int kRight = kPlotWidth - 24;
  static constexpr int kLevelTop = 48, kLevelBottom = 392;
  static constexpr int kChangeTop = 432, kChangeBottom = 592;
};

Canvas DrawLevelPlot(const LevelAnalysis& levels, const std::string& title);

// A step for axis ticks: 1, 2 or 5 times a power of ten, so that `span`
// holds at most `maxTicks` steps.
double NiceTickStep(double span, int maxTicks);

// The lowest level the upper panel shows: a multiple of 6 dB a little below
// the quietest sound in the material (digital silence aside), between
// -120 dBFS and 24 dB below `topDb`.
double LevelFloorDb(const LevelAnalysis& levels, double topDb);

// Tick labels for `step`: as many decimals as the step needs, so labels of
// neighbouring ticks always differ.
std::string TickLabel(double value, double step);

}  // namespace render
