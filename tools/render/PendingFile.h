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

namespace render {

// A hidden temporary name beside `finalPath`, unique within this process:
// two outputs never share one.
std::string PendingPathFor(const std::string& finalPath);

// Registers / unregisters a temporary file for removal on interrupt.
void TrackPendingFile(const std::string& pendingPath);
void UntrackPendingFile(const std::string& pendingPath);

// Removes every tracked temporary file (also run at exit).
void RemovePendingFiles();

// Installs the signal handlers and the exit hook; call once from main().
void InstallPendingFileCleanup();

// While set, an interrupt first ends the progress line on stderr so the
// shell prompt starts on a fresh line.
void SetProgressLineOpen(bool open);

// Renames the pending file onto its final name; on failure removes it and
// sets `error`.
bool CommitPendingFile(const std::string& pendingPath, const std::string& finalPath,
                       std::string& error);

}  // namespace render
