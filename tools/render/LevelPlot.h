// The level plot: input and output level (dBFS) over time in the upper
// panel, gain reduction (dB) in the lower one, with labelled axes.
#pragma once

#include <string>

#include "Canvas.h"
#include "LevelAnalysis.h"

namespace render {

constexpr int kPlotWidth = 1200;
constexpr int kPlotHeight = 640;

Canvas DrawLevelPlot(const LevelAnalysis& levels, const std::string& title);

// A step for axis ticks: 1, 2 or 5 times a power of ten, so that `span`
// holds at most `maxTicks` steps.
double NiceTickStep(double span, int maxTicks);

}  // namespace render
