// The progress bar kestrune-render draws on stderr: one line, redrawn in
// place at most ten times a second, never wider than the terminal (so it
// does not wrap), and cleared when the run ends. When the input's length is
// unknown it shows the time rendered so far instead of a bar.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace render {

class ProgressBar {
 public:
  // `totalFrames` < 0 when the length is not known.
  ProgressBar(bool enabled, double sampleRate, int64_t totalFrames);
  ~ProgressBar() { Finish(); }
  void Update(size_t framesDone);
  // Clears the line (if anything was drawn).
  void Finish();

  // The line for `framesDone` in `columns` columns: at most columns - 1
  // characters.
  std::string Line(size_t framesDone, int columns) const;

 private:
  bool enabled_;
  double sampleRate_;
  int64_t total_;
  int columns_ = 80;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
};

// The terminal width of stderr, else $COLUMNS, else 80.
int TerminalColumns();

}  // namespace render
