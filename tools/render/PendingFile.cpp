#include "PendingFile.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace render {
namespace {

// Fixed storage so the signal handler touches no allocator.
constexpr int kMaxPending = 16;
constexpr size_t kMaxPath = 4096;
char g_pending[kMaxPending][kMaxPath];
volatile sig_atomic_t g_used[kMaxPending];
volatile sig_atomic_t g_progressLineOpen = 0;
int g_pendingSerial = 0;

void OnSignal(int signalNumber) {
  for (int i = 0; i < kMaxPending; ++i) {
    if (g_used[i]) unlink(g_pending[i]);
  }
  if (g_progressLineOpen && signalNumber != SIGPIPE) {
    // Best effort: stderr may be the closed pipe itself.
    ssize_t ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
  }
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

std::string PendingPathFor(const std::string& finalPath) {
  size_t slash = finalPath.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  return dir + "." + base + ".partial-" + std::to_string(static_cast<long>(getpid())) + "-" +
         std::to_string(++g_pendingSerial);
}

void TrackPendingFile(const std::string& pendingPath) {
  if (pendingPath.size() >= kMaxPath) return;
  for (int i = 0; i < kMaxPending; ++i) {
    if (!g_used[i]) {
      memcpy(g_pending[i], pendingPath.c_str(), pendingPath.size() + 1);
      g_used[i] = 1;
      return;
    }
  }
}

void UntrackPendingFile(const std::string& pendingPath) {
  for (int i = 0; i < kMaxPending; ++i) {
    if (g_used[i] && pendingPath == g_pending[i]) g_used[i] = 0;
  }
}

void RemovePendingFiles() {
  for (int i = 0; i < kMaxPending; ++i) {
    if (g_used[i]) {
      unlink(g_pending[i]);
      g_used[i] = 0;
    }
  }
}

void SetProgressLineOpen(bool open) { g_progressLineOpen = open ? 1 : 0; }

void InstallPendingFileCleanup() {
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    sigaddset(&action.sa_mask, signalNumber);
  }
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    sigaction(signalNumber, &action, nullptr);
  }
  atexit(RemovePendingFiles);
}

bool CommitPendingFile(const std::string& pendingPath, const std::string& finalPath,
                       std::string& error) {
  if (rename(pendingPath.c_str(), finalPath.c_str()) != 0) {
    error = std::string("cannot write '") + finalPath + "': " + strerror(errno);
    unlink(pendingPath.c_str());
    UntrackPendingFile(pendingPath);
    return false;
  }
  UntrackPendingFile(pendingPath);
  return true;
}

}  // namespace render
