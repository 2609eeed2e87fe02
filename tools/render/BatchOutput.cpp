#include "BatchOutput.h"

#include <algorithm>
#include <cstdarg>

#include "PendingFile.h"
#include "Progress.h"

namespace render {
namespace {

thread_local JobLog* t_log = nullptr;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr int64_t kRedrawNs = 100'000'000;

}  // namespace

void SetThreadLog(JobLog* log) { t_log = log; }

void Say(FILE* stream, const std::string& text) {
  if (t_log) {
    t_log->Add(stream, text);
    return;
  }
  fputs(text.c_str(), stream);
  fflush(stream);
}

BatchProgress::BatchProgress(bool allowed, bool always, size_t inputs)
    : allowed_(allowed), always_(always), inputs_(new Input[inputs]), count_(inputs) {
  if (allowed_) columns_ = TerminalColumns();
}

std::string BatchProgress::Line(int columns) const {
  double sum = 0;
  size_t done = 0;
  for (size_t i = 0; i < count_; ++i) {
    const Input& input = inputs_[i];
    if (input.done) {
      ++done;
      sum += 1;
    } else if (input.claimed > 0) {
      sum += std::min(1.0, static_cast<double>(input.frames) / static_cast<double>(input.claimed));
    }
  }
  const double fraction = count_ ? sum / static_cast<double>(count_) : 1.0;
  const int percent = static_cast<int>(fraction * 100);
  char numbers[96];
  snprintf(numbers, sizeof(numbers), " %3d%%  %zu of %zu inputs done", percent, done, count_);
  const std::string text = numbers;
  const int room = columns - 1 - static_cast<int>(text.size()) - 2;
  if (room < 5) {
    snprintf(numbers, sizeof(numbers), "%3d%%", percent);
    return std::string(numbers).substr(0, static_cast<size_t>(std::max(columns - 1, 0)));
  }
  const int width = std::min(room, 40);
  const int filled = static_cast<int>(fraction * width);
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') +
         "]" + text;
}

void BatchProgress::Start(size_t input, double sampleRate, int64_t claimedFrames) {
  if (input >= count_) return;
  inputs_[input].claimed = claimedFrames != 0 ? claimedFrames : 1;
  if (!allowed_) return;
  std::lock_guard<std::mutex> guard(lock_);
  if (claimedFrames > 0 && sampleRate > 0) startedSeconds_ += static_cast<double>(claimedFrames) / sampleRate;
  if (always_ || claimedFrames < 0 || startedSeconds_ > 20.0) shown_ = true;
  DrawLocked(false);
}

void BatchProgress::Update(size_t input, size_t framesDone) {
  if (input >= count_) return;
  inputs_[input].frames = framesDone;
  if (!allowed_ || NowNs() - lastDrawNs_ < kRedrawNs) return;
  std::lock_guard<std::mutex> guard(lock_);
  DrawLocked(false);
}

void BatchProgress::Done(size_t input) {
  if (input >= count_) return;
  inputs_[input].done = true;
  if (!allowed_) return;
  std::lock_guard<std::mutex> guard(lock_);
  // The last one is always drawn: the bar ends full.
  DrawLocked(std::all_of(inputs_.get(), inputs_.get() + count_, [](const Input& i) { return i.done.load(); }));
}

void BatchProgress::Print(const JobLog& log) {
  std::lock_guard<std::mutex> guard(lock_);
  const bool wasDrawn = drawn_;
  for (const JobLog::Entry& entry : log.entries) {
    if (entry.error && !errorsShown_.insert(entry.text).second) continue;
    ClearLocked();
    fputs(entry.text.c_str(), entry.stream);
    fflush(entry.stream);
  }
  if (wasDrawn && !drawn_) DrawLocked(true);
}

void BatchProgress::Finish() {
  std::lock_guard<std::mutex> guard(lock_);
  ClearLocked();
  shown_ = false;
}

void BatchProgress::DrawLocked(bool force) {
  if (!shown_) return;
  const int64_t now = NowNs();
  if (!force && drawn_ && now - lastDrawNs_ < kRedrawNs) return;
  lastDrawNs_ = now;
  drawn_ = true;
  SetProgressLineOpen(true);
  fprintf(stderr, "\r%s", Line(columns_).c_str());
  fflush(stderr);
}

void BatchProgress::ClearLocked() {
  if (!drawn_) return;
  fprintf(stderr, "\r%s\r", std::string(static_cast<size_t>(std::max(columns_ - 1, 0)), ' ').c_str());
  fflush(stderr);
  drawn_ = false;
  SetProgressLineOpen(false);
}

std::string Format(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int size = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, again);
  va_end(again);
  text.pop_back();
  return text;
}

}  // namespace render
