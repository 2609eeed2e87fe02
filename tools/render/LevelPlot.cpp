#include "LevelPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace render {
namespace {

const Color kBackground{22, 24, 29, 255};
const Color kPanel{30, 33, 40, 255};
const Color kGrid{55, 59, 68, 255};
const Color kAxis{150, 156, 168, 255};
const Color kText{216, 221, 230, 255};
const Color kInput{127, 160, 200, 255};
const Color kOutput{255, 159, 28, 255};
const Color kReduction{230, 57, 70, 255};

std::string Format(double value, double step) {
  char text[32];
  int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
  snprintf(text, sizeof(text), "%.*f", decimals, value);
  if (std::string(text) == "-0") return "0";
  return text;
}

struct Panel {
  int left, top, right, bottom;
  double yTop, yBottom;  // values at the top and bottom edge
  double Y(double value) const {
    double t = (yTop - value) / (yTop - yBottom);
    return top + std::clamp(t, 0.0, 1.0) * (bottom - top);
  }
};

// One value per pixel column: the largest (or smallest) of the windows that
// fall into it, so long files still show their peaks.
std::vector<double> PerColumn(const std::vector<double>& values, int columns, bool largest) {
  std::vector<double> out(static_cast<size_t>(columns), largest ? -1e300 : 1e300);
  if (values.empty()) return std::vector<double>(static_cast<size_t>(columns), 0.0);
  for (int x = 0; x < columns; ++x) {
    size_t first = values.size() * static_cast<size_t>(x) / static_cast<size_t>(columns);
    size_t last = values.size() * static_cast<size_t>(x + 1) / static_cast<size_t>(columns);
    last = std::max(last, first + 1);
    for (size_t i = first; i < last && i < values.size(); ++i) {
      out[static_cast<size_t>(x)] = largest ? std::max(out[static_cast<size_t>(x)], values[i])
                                            : std::min(out[static_cast<size_t>(x)], values[i]);
    }
  }
  return out;
}

void DrawSeries(Canvas& canvas, const Panel& panel, const std::vector<double>& column, Color color) {
  for (size_t x = 1; x < column.size(); ++x) {
    canvas.Line(panel.left + x - 0.5, panel.Y(column[x - 1]), panel.left + x + 0.5,
                panel.Y(column[x]), color, 1.6);
  }
}

void DrawYAxis(Canvas& canvas, const Panel& panel, double step, const std::string& label) {
  for (double v = std::ceil(panel.yBottom / step) * step; v <= panel.yTop + 1e-9; v += step) {
    const int y = static_cast<int>(std::lround(panel.Y(v)));
    canvas.FillRect(panel.left, y, panel.right, y + 1, kGrid);
    canvas.FillRect(panel.left - 5, y, panel.left, y + 1, kAxis);
    const std::string text = Format(v, step);
    canvas.Text(panel.left - 9 - Canvas::TextWidth(text), y - 3, text, kText);
  }
  const int labelLength = Canvas::TextWidth(label);
  canvas.TextUp(14, (panel.top + panel.bottom - labelLength) / 2, label, kText);
}

void DrawXAxis(Canvas& canvas, const Panel& panel, double seconds, bool withNumbers) {
  const double step = NiceTickStep(seconds, 12);
  for (double t = 0; t <= seconds + 1e-9; t += step) {
    const int x = panel.left + static_cast<int>(std::lround(t / seconds * (panel.right - panel.left)));
    canvas.FillRect(x, panel.top, x + 1, panel.bottom, kGrid);
    canvas.FillRect(x, panel.bottom, x + 1, panel.bottom + 5, kAxis);
    if (withNumbers) {
      const std::string text = Format(t, step);
      canvas.Text(x - Canvas::TextWidth(text) / 2, panel.bottom + 9, text, kText);
    }
  }
}

void DrawFrame(Canvas& canvas, const Panel& panel) {
  canvas.FillRect(panel.left, panel.top, panel.right, panel.top + 1, kAxis);
  canvas.FillRect(panel.left, panel.bottom, panel.right + 1, panel.bottom + 1, kAxis);
  canvas.FillRect(panel.left, panel.top, panel.left + 1, panel.bottom, kAxis);
  canvas.FillRect(panel.right, panel.top, panel.right + 1, panel.bottom, kAxis);
}

void DrawLegend(Canvas& canvas, int right, int y) {
  const struct {
    const char* name;
    Color color;
  } entries[] = {{"input level", kInput}, {"output level", kOutput}, {"gain reduction", kReduction}};
  int x = right;
  for (int i = 2; i >= 0; --i) {
    x -= Canvas::TextWidth(entries[i].name) + 26;
    canvas.FillRect(x, y + 1, x + 14, y + 6, entries[i].color);
    canvas.Text(x + 19, y, entries[i].name, kText);
  }
}

}  // namespace

double NiceTickStep(double span, int maxTicks) {
  if (!(span > 0) || maxTicks < 1) return 1;
  const double raw = span / maxTicks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

Canvas DrawLevelPlot(const LevelAnalysis& levels, const std::string& title) {
  Canvas canvas(kPlotWidth, kPlotHeight, kBackground);
  const int left = 84, right = kPlotWidth - 24;
  const double seconds = std::max(levels.DurationSeconds(), 1e-3);

  // Upper panel: levels from -60 dBFS up to 0, or higher when the output is.
  const double loudest = std::max(levels.InputPeakDb(), levels.OutputPeakDb());
  Panel top{left, 48, right, 392, std::clamp(std::ceil(loudest / 6.0) * 6.0, 0.0, 24.0), -60.0};
  // Lower panel: reduction from 0 down to a round figure past the largest.
  const double largest = levels.LargestReductionDb();
  double floorDb = 6;
  for (double candidate : {6.0, 12.0, 18.0, 24.0, 36.0, 48.0, 60.0, 96.0}) {
    floorDb = candidate;
    if (candidate >= largest + 1) break;
  }
  Panel bottom{left, 432, right, 592, 0.0, -floorDb};

  canvas.FillRect(top.left, top.top, top.right, top.bottom, kPanel);
  canvas.FillRect(bottom.left, bottom.top, bottom.right, bottom.bottom, kPanel);
  canvas.Text(left, 14, title, kText, 2);
  DrawLegend(canvas, right, 32);

  DrawXAxis(canvas, top, seconds, false);
  DrawXAxis(canvas, bottom, seconds, true);
  DrawYAxis(canvas, top, top.yTop - top.yBottom <= 66 ? 6.0 : 12.0, "level (dBFS)");
  DrawYAxis(canvas, bottom, NiceTickStep(floorDb, 4), "reduction (dB)");
  const std::string timeLabel = "time (s)";
  canvas.Text((left + right - Canvas::TextWidth(timeLabel)) / 2, 620, timeLabel, kText);

  const int columns = right - left;
  DrawSeries(canvas, top, PerColumn(levels.InputDb(), columns, true), kInput);
  DrawSeries(canvas, top, PerColumn(levels.OutputDb(), columns, true), kOutput);
  // Gain reduction as a filled area hanging from the 0 dB line.
  const std::vector<double> reduction = PerColumn(levels.ReductionDb(), columns, false);
  for (int x = 0; x < columns; ++x) {
    const int y = static_cast<int>(std::lround(bottom.Y(reduction[static_cast<size_t>(x)])));
    canvas.FillRect(left + x, bottom.top + 1, left + x + 1, y, Color{230, 57, 70, 110});
  }
  DrawSeries(canvas, bottom, reduction, kReduction);
  DrawFrame(canvas, top);
  DrawFrame(canvas, bottom);
  return canvas;
}

}  // namespace render
