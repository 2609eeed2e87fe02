// What a batch of renders prints. Renders may run at once (-j), but each
// input's notes, warnings, error and summary are kept until every input
// before it has printed its own, so the batch prints what a serial one
// prints, in input order; one progress line stands for the whole batch.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace render {

// One input's messages, in the order they were made.
struct JobLog {
  struct Entry {
    FILE* stream;
    std::string text;
    bool error;  // the input's error line
  };
  std::vector<Entry> entries;
  void Add(FILE* stream, std::string text, bool error = false) {
    entries.push_back({stream, std::move(text), error});
  }
};

// While a log is set for the calling thread, Say() keeps its text there;
// otherwise the text is printed (and flushed) at once.
void SetThreadLog(JobLog* log);
void Say(FILE* stream, const std::string& text);

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The batch's progress line on stderr: one bar for all inputs, redrawn at
// most ten times a second, moved out of the way while messages print.
// Safe from several threads.
class BatchProgress {
 public:
  // `allowed`: the user lets a bar show (terminal, no -q, or --progress);
  // `always`: --progress. An allowed bar shows once the inputs started so
  // far are longer than 20 s together, or one's length is unknown.
  BatchProgress(bool allowed, bool always, size_t inputs);
  ~BatchProgress() { Finish(); }

  // `claimedFrames` < 0 when the input's length is not known.
  void Start(size_t input, double sampleRate, int64_t claimedFrames);
  void Update(size_t input, size_t framesDone);
  void Done(size_t input);
  // Prints a log; an error line already printed for an earlier input (the
  // module failing for each) is not repeated.
  void Print(const JobLog& log);
  void Finish();

  // The line for the current state in `columns` columns: at most
  // columns - 1 characters.
  std::string Line(int columns) const;

 private:
  struct Input {
    std::atomic<int64_t> claimed{0};  // 0: not started, < 0: unknown length
    std::atomic<uint64_t> frames{0};
    std::atomic<bool> done{false};
  };
  void DrawLocked(bool force);
  void ClearLocked();

  bool allowed_, always_;
  std::unique_ptr<Input[]> inputs_;
  size_t count_;
  std::mutex lock_;
  bool shown_ = false;  // the bar is wanted
  bool drawn_ = false;  // a line is on the terminal now
  double startedSeconds_ = 0;
  int columns_ = 80;
  std::atomic<int64_t> lastDrawNs_{0};
  std::set<std::string> errorsShown_;
};

}  // namespace render
