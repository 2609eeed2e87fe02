// Helpers shared by the benchmarks.
#pragma once

#include <time.h>

// CPU time of the calling thread, in seconds: a thread that another process
// preempts is not charged for the time it waited.
inline double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}
