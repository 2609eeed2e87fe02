// Runs a measurement in a fresh child process (a first instance, a first
// editor: nothing already loaded or cached), which writes its result as raw
// bytes into the pipe it is given and exits.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

// False when the child could not be started or wrote no whole result.
template <typename Result, typename Measure>
bool MeasureInFreshProcess(Measure measureAndExit, Result* result) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    measureAndExit(fds[1]);
  }
  close(fds[1]);
  const bool got = child > 0 && read(fds[0], result, sizeof *result) == static_cast<ssize_t>(sizeof *result);
  close(fds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return got;
}
