#include "LevelPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "CanvasLabel.h"

namespace render {
namespace {

const Rgba kBackground = Hex(0x16181D);
const Rgba kPanel = Hex(0x1E2128);
const Rgba kGrid = Hex(0x373B44);
const Rgba kAxis = Hex(0x969CA8);
const Rgba kText = Hex(0xD8DDE6);
const Rgba kInput = Hex(0x7FA0C8);
const Rgba kOutput = Hex(0xFF9F1C);
const Rgba kChange = Hex(0xE63946);
const Rgba kChangeFill = Hex(0xE63946, 110 / 255.0f);
const Rgba kFullScale = Hex(0xF1F3F7);
const Rgba kClipped = Hex(0xFF2D55, 0.35f);

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
template <typename T>
std::vector<double> PerColumn(const std::vector<T>& values, int columns, bool largest) {
  std::vector<double> out(static_cast<size_t>(columns), largest ? -1e300 : 1e300);
  if (values.empty()) return std::vector<double>(static_cast<size_t>(columns), 0.0);
  for (int x = 0; x < columns; ++x) {
    size_t first = values.size() * static_cast<size_t>(x) / static_cast<size_t>(columns);
    size_t last = values.size() * static_cast<size_t>(x + 1) / static_cast<size_t>(columns);
    last = std::max(last, first + 1);
    for (size_t i = first; i < last && i < values.size(); ++i) {
      const double v = static_cast<double>(values[i]);
      out[static_cast<size_t>(x)] = largest ? std::max(out[static_cast<size_t>(x)], v) : std::min(out[static_cast<size_t>(x)], v);
    }
  }
  return out;
}

void DrawSeries(Canvas& canvas, const Panel& panel, const std::vector<double>& column, const Rgba& color) {
  for (size_t x = 1; x < column.size(); ++x) {
    canvas.Line(static_cast<float>(panel.left + x - 0.5), static_cast<float>(panel.Y(column[x - 1])),
                static_cast<float>(panel.left + x + 0.5), static_cast<float>(panel.Y(column[x])), color, 1.6f);
  }
}

void DrawYAxis(Canvas& canvas, LabelFont& font, const Panel& panel, double step, const std::string& label) {
  for (double v = std::ceil(panel.yBottom / step) * step; v <= panel.yTop + 1e-9; v += step) {
    const int y = static_cast<int>(std::lround(panel.Y(v)));
    canvas.FillRect(panel.left, y, panel.right, y + 1, kGrid);
    canvas.FillRect(panel.left - 5, y, panel.left, y + 1, kAxis);
    const std::string text = TickLabel(v, step);
    font.Draw(canvas, panel.left - 9 - font.Width(text), y - font.Height() / 2, text, kText);
  }
  const int labelLength = font.Width(label);
  font.DrawUp(canvas, 12, (panel.top + panel.bottom - labelLength) / 2, label, kText);
}

void DrawXAxis(Canvas& canvas, LabelFont& font, const Panel& panel, double seconds, bool withNumbers) {
  const double step = NiceTickStep(seconds, 12);
  for (int i = 0; i * step <= seconds * (1 + 1e-9); ++i) {
    const double t = i * step;
    const int x = panel.left + static_cast<int>(std::lround(t / seconds * (panel.right - panel.left)));
    canvas.FillRect(x, panel.top, x + 1, panel.bottom, kGrid);
    canvas.FillRect(x, panel.bottom, x + 1, panel.bottom + 5, kAxis);
    if (withNumbers) {
      const std::string text = TickLabel(t, step);
      font.Draw(canvas, x - font.Width(text) / 2, panel.bottom + 8, text, kText);
    }
  }
}

void DrawFrame(Canvas& canvas, const Panel& panel) {
  canvas.FillRect(panel.left, panel.top, panel.right, panel.top + 1, kAxis);
  canvas.FillRect(panel.left, panel.bottom, panel.right + 1, panel.bottom + 1, kAxis);
  canvas.FillRect(panel.left, panel.top, panel.left + 1, panel.bottom, kAxis);
  canvas.FillRect(panel.right, panel.top, panel.right + 1, panel.bottom, kAxis);
}

void DrawLegend(Canvas& canvas, LabelFont& font, int right, int y, bool clipped) {
  const struct {
    const char* name;
    Rgba color;
  } entries[] = {{"input level", kInput}, {"output level", kOutput}, {"level change", kChange}, {"clipped", kClipped}};
  int x = right;
  for (int i = clipped ? 3 : 2; i >= 0; --i) {
    x -= font.Width(entries[i].name) + 26;
    canvas.FillRect(x, y + font.Height() / 2 - 3, x + 14, y + font.Height() / 2 + 3, entries[i].color);
    font.Draw(canvas, x + 19, y, entries[i].name, kText);
  }
}

}  // namespace

double NiceTickStep(double span, int maxTicks) {
  if (!(span > 0) || maxTicks < 1) return 1;
  const double raw = span / maxTicks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw * (1 - 1e-12)) return m * power;
  }
  return 10 * power;
}

std::string TickLabel(double value, double step) {
  const int decimals = step > 0 ? std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 9) : 0;
  char text[48];
  snprintf(text, sizeof(text), "%.*f", decimals, value);
  const std::string shown = text;
  if (shown.find_first_not_of("-0.") == std::string::npos) return decimals ? "0." + std::string(static_cast<size_t>(decimals), '0') : "0";
  return shown;
}

double LevelFloorDb(const LevelAnalysis& levels, double topDb) {
  std::vector<double> heard;
  for (const auto* series : {&levels.InputDb(), &levels.OutputDb()}) {
    for (double db : *series) {
      if (db > LevelAnalysis::kFloorDb + 1) heard.push_back(db);
    }
  }
  double quietest = -60;
  if (!heard.empty()) {
    // The quietest sound that lasts, not a single window in a fade.
    const size_t at = heard.size() / 50;
    std::nth_element(heard.begin(), heard.begin() + static_cast<long>(at), heard.end());
    quietest = heard[at];
  }
  const double floor = std::floor((quietest - 3) / 6.0) * 6.0;
  return std::clamp(floor, LevelAnalysis::kFloorDb, topDb - 24);
}

Canvas DrawLevelPlot(const LevelAnalysis& levels, const std::string& title) {
  Canvas canvas(kPlotWidth, kPlotHeight);
  canvas.FillRect(0, 0, kPlotWidth, kPlotHeight, kBackground);
  LabelFont titleFont(22, true);
  LabelFont font(13);
  const int left = PlotLayout::kLeft, right = PlotLayout::kRight;
  const double seconds = std::max(levels.DurationSeconds(), 1e-3);

  // Upper panel: levels up to 0 dBFS, or higher when the output is, down to
  // below the quietest sound of the material.
  const double loudest = std::max(levels.InputPeakDb(), levels.OutputPeakDb());
  const double topDb = std::clamp(std::ceil(loudest / 6.0) * 6.0, 0.0, 24.0);
  Panel top{left, PlotLayout::kLevelTop, right, PlotLayout::kLevelBottom, topDb, LevelFloorDb(levels, topDb)};
  // Lower panel: the drop from 0 down to a round figure past the largest.
  const double largest = levels.LargestReductionDb();
  double floorDb = 6;
  for (double candidate : {6.0, 12.0, 18.0, 24.0, 36.0, 48.0, 60.0, 96.0}) {
    floorDb = candidate;
    if (candidate >= largest + 1) break;
  }
  Panel bottom{left, PlotLayout::kChangeTop, right, PlotLayout::kChangeBottom, 0.0, -floorDb};

  canvas.FillRect(top.left, top.top, top.right, top.bottom, kPanel);
  canvas.FillRect(bottom.left, bottom.top, bottom.right, bottom.bottom, kPanel);
  titleFont.Draw(canvas, left, 10, title, kText);

  const int columns = right - left;
  // Stretches where the output went beyond full scale, behind everything.
  const std::vector<double> clipped = PerColumn(levels.ClippedWindows(), columns, true);
  const bool anyClipped = std::any_of(clipped.begin(), clipped.end(), [](double c) { return c > 0; });
  for (int x = 0; x < columns; ++x) {
    if (clipped[static_cast<size_t>(x)] > 0) canvas.FillRect(left + x, top.top + 1, left + x + 1, top.bottom, kClipped);
  }
  DrawLegend(canvas, font, right, 26, anyClipped);

  DrawXAxis(canvas, font, top, seconds, false);
  DrawXAxis(canvas, font, bottom, seconds, true);
  const double span = top.yTop - top.yBottom;
  DrawYAxis(canvas, font, top, span <= 66 ? 6.0 : span <= 132 ? 12.0 : 24.0, "level (dBFS)");
  DrawYAxis(canvas, font, bottom, NiceTickStep(floorDb, 4), "level change (dB)");
  const std::string timeLabel = "time (s)";
  font.Draw(canvas, (left + right - font.Width(timeLabel)) / 2, 616, timeLabel, kText);

  // Full scale: a bright line with its name.
  const int fullScale = static_cast<int>(std::lround(top.Y(0.0)));
  canvas.FillRect(left + 1, fullScale, right, fullScale + 1, kFullScale);
  font.Draw(canvas, right - font.Width("0 dBFS") - 4, fullScale + 2, "0 dBFS", kFullScale);

  DrawSeries(canvas, top, PerColumn(levels.InputDb(), columns, true), kInput);
  DrawSeries(canvas, top, PerColumn(levels.OutputDb(), columns, true), kOutput);
  // The drop as a filled area hanging from the 0 dB line.
  const std::vector<double> change = PerColumn(levels.ReductionDb(), columns, false);
  for (int x = 0; x < columns; ++x) {
    const int y = static_cast<int>(std::lround(bottom.Y(change[static_cast<size_t>(x)])));
    canvas.FillRect(left + x, bottom.top + 1, left + x + 1, y, kChangeFill);
  }
  DrawSeries(canvas, bottom, change, kChange);
  DrawFrame(canvas, top);
  DrawFrame(canvas, bottom);
  return canvas;
}

}  // namespace render
