// Output files that become visible only when complete.
//
// Every file kestrune-render writes goes first to a hidden temporary file in
// the target's folder and is renamed over the target when it is finished.
// The temporary names are registered so that an interrupt (SIGINT, SIGTERM,
// SIGHUP) or an early exit removes them: a failed render leaves nothing.
#pragma once

#include <string>

namespace render {

// The hidden temporary name used for `finalPath` by this process.
std::string PendingPathFor(const std::string& finalPath);

// Registers / unregisters a temporary file for removal on interrupt.
void TrackPendingFile(const std::string& pendingPath);
void UntrackPendingFile(const std::string& pendingPath);

// Removes every tracked temporary file (also run at exit).
void RemovePendingFiles();

// Installs the signal handlers and the exit hook; call once from main().
void InstallPendingFileCleanup();

// Renames the pending file onto its final name; on failure removes it and
// sets `error`.
bool CommitPendingFile(const std::string& pendingPath, const std::string& finalPath,
                       std::string& error);

}  // namespace render
