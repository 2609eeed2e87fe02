// Output files that become visible only when complete.
//
// Every file kestrune-render writes goes first to a hidden temporary file of
// its own in the target's folder and is renamed over the target when every
// output of the run is finished. The temporary names are registered so that
// an interrupt (SIGINT, SIGTERM, SIGHUP), a closed pipe (SIGPIPE) or an early
// exit removes them: a failed render leaves nothing. The process then ends by
// the same signal, so a shell sees the usual 128 + signal number.
#pragma once

#include <string>
#include <vector>

namespace render {

// Renders a parallel batch runs at once, at most (each has a few pending
// files, which the interrupt handler keeps in fixed storage).
constexpr int kMaxParallelRenders = 64;

// A hidden temporary name beside `finalPath`, unique within this process:
// two outputs never share one. For a device or a pipe it is in $TMPDIR
// (else /tmp): nothing is created in the device's folder.
std::string PendingPathFor(const std::string& finalPath);

// An existing file that is not a regular file or a folder: a device, a
// pipe or a socket, which is written into, never replaced.
bool IsDeviceOrPipe(const std::string& path);

// With no-clobber set, CommitPendingFile never replaces an existing file.
void SetNoClobber(bool noClobber);

// Registers a temporary file for removal on interrupt and creates it
// (empty), both at once as far as an interrupt on any thread can tell;
// unregisters it. Safe from several threads.
void TrackPendingFile(const std::string& pendingPath);
void UntrackPendingFile(const std::string& pendingPath);

// Removes every tracked temporary file (also run at exit).
void RemovePendingFiles();

// Installs the signal handlers and the exit hook; call once from main().
void InstallPendingFileCleanup();

// While set, an interrupt first ends the progress line on stderr so the
// shell prompt starts on a fresh line.
void SetProgressLineOpen(bool open);

// Makes the pending file the final one; on failure removes it and sets
// `error`. A new file or a file with one name is replaced by renaming, with
// the old file's mode and (where permitted) owner; a file with several hard
// links is rewritten in place, after reserving the space, so every name
// sees the new contents; a device or a pipe is written into.
bool CommitPendingFile(const std::string& pendingPath, const std::string& finalPath,
                       std::string& error);

// Files that become visible together: a run's pictures and preset are
// renamed into place with its audio once all of them are complete. What is
// not committed is removed when the set goes.
class PendingSet {
 public:
  PendingSet() = default;
  ~PendingSet();
  PendingSet(const PendingSet&) = delete;
  PendingSet& operator=(const PendingSet&) = delete;

  // A tracked pending file for `target`; write to the returned path.
  std::string Add(const std::string& target);
  // Commits the files in order. When one fails (CommitPendingFile removes
  // it), those after it stay pending and are removed with the set.
  bool CommitAll(std::string& error);

 private:
  struct File {
    std::string pending, target;
  };
  std::vector<File> files_;
};

}  // namespace render
