#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "PendingFile.h"

namespace render {

int TerminalColumns() {
  struct winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = getenv("COLUMNS")) {
    const int parsed = atoi(columns);
    if (parsed > 0) return parsed;
  }
  return 80;
}

ProgressBar::ProgressBar(bool enabled, double sampleRate, int64_t totalFrames)
    : enabled_(enabled), sampleRate_(sampleRate > 0 ? sampleRate : 48000), total_(totalFrames) {
  if (enabled_) columns_ = TerminalColumns();
}

std::string ProgressBar::Line(size_t framesDone, int columns) const {
  const double done = static_cast<double>(framesDone) / sampleRate_;
  char numbers[96];
  if (total_ <= 0) {
    snprintf(numbers, sizeof(numbers), "%.1f s rendered", done);
    return std::string(numbers).substr(0, static_cast<size_t>(std::max(columns - 1, 0)));
  }
  const double fraction = std::clamp(static_cast<double>(framesDone) / static_cast<double>(total_), 0.0, 1.0);
  snprintf(numbers, sizeof(numbers), " %3d%%  %.1f / %.1f s", static_cast<int>(fraction * 100), done,
           static_cast<double>(total_) / sampleRate_);
  std::string text = numbers;
  const int room = columns - 1 - static_cast<int>(text.size()) - 2;
  if (room < 5) {
    // Too narrow for a bar: the percentage alone.
    // Always four characters, so a shorter figure never leaves one behind.
    snprintf(numbers, sizeof(numbers), "%3d%%", static_cast<int>(fraction * 100));
    return std::string(numbers).substr(0, static_cast<size_t>(std::max(columns - 1, 0)));
  }
  const int width = std::min(room, 40);
  const int filled = static_cast<int>(fraction * width);
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') +
         "]" + text;
}

void ProgressBar::Update(size_t framesDone) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  const bool complete = total_ > 0 && static_cast<int64_t>(framesDone) >= total_;
  // At most ten redraws a second, but always the last one.
  if (drawn_ && now - last_ < std::chrono::milliseconds(100) && !complete) return;
  last_ = now;
  drawn_ = true;
  SetProgressLineOpen(true);
  const std::string line = Line(framesDone, columns_);
  fprintf(stderr, "\r%s", line.c_str());
  fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || !drawn_) return;
  fprintf(stderr, "\r%s\r", std::string(static_cast<size_t>(std::max(columns_ - 1, 0)), ' ').c_str());
  fflush(stderr);
  drawn_ = false;
  SetProgressLineOpen(false);
}

}  // namespace render
