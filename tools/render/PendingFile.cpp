#include "PendingFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace render {
namespace {

// Fixed storage so the signal handler touches no allocator: room for the
// files of every render of a parallel batch.
constexpr int kMaxPending = 4 * kMaxParallelRenders;
constexpr size_t kMaxPath = 4096;
char g_pending[kMaxPending][kMaxPath];
std::atomic<int> g_used[kMaxPending];
volatile sig_atomic_t g_progressLineOpen = 0;
std::atomic<int> g_pendingSerial{0};
bool g_noClobber = false;

// Held while a file is created and registered, and while a file is rewritten
// in place; the signal handler takes it and never gives it back, so no
// render on another thread makes a file after the handler's sweep or leaves
// a rewrite half done. A spin lock: the handler may take nothing else.
std::atomic_flag g_fileLock = ATOMIC_FLAG_INIT;

void LockFiles() {
  while (g_fileLock.test_and_set(std::memory_order_acquire)) sched_yield();
}

void OnSignal(int signalNumber) {
  // The holder is another thread (a holder blocks these signals), which
  // soon lets go.
  LockFiles();
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

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Copies `from` into the open `to` from its current position.
bool CopyInto(const std::string& from, int to) {
  int fd = open(from.c_str(), O_RDONLY);
  if (fd < 0) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    if (!WriteAll(to, buffer, static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  const int savedErrno = errno;
  close(fd);
  errno = savedErrno;
  return ok;
}

// Rewrites a file with several names in place. The space is reserved
// first, so a full disk or a size limit leaves the old contents.
bool RewriteInPlace(const std::string& pendingPath, const std::string& finalPath) {
  struct stat pending;
  if (stat(pendingPath.c_str(), &pending) != 0) return false;
  int fd = open(finalPath.c_str(), O_WRONLY | O_NOCTTY);
  if (fd < 0) return false;
  struct stat old;
  bool ok = fstat(fd, &old) == 0;
  if (ok && pending.st_size > old.st_size) {
    const int result = posix_fallocate(fd, 0, pending.st_size);
    if (result != 0) {
      if (ftruncate(fd, old.st_size) != 0) {
        // The old contents are intact either way; only the size may differ.
      }
      errno = result;
      ok = false;
    }
  }
  ok = ok && CopyInto(pendingPath, fd) && ftruncate(fd, pending.st_size) == 0;
  const int savedErrno = errno;
  if (close(fd) != 0 && ok) return false;
  errno = savedErrno;
  return ok;
}

// A device or a pipe gets the bytes; it is never truncated or replaced.
bool WriteIntoDevice(const std::string& pendingPath, const std::string& finalPath) {
  int fd = open(finalPath.c_str(), O_WRONLY | O_NOCTTY);
  if (fd < 0) return false;
  bool ok = CopyInto(pendingPath, fd);
  const int savedErrno = errno;
  if (close(fd) != 0 && ok) return false;
  errno = savedErrno;
  return ok;
}

// The replacement takes over the old file's owner where permitted and its
// mode; set-id bits only with the owner.
void TakeOverOwnerAndMode(const std::string& pendingPath, const struct stat& old) {
  bool ownerKept = chown(pendingPath.c_str(), old.st_uid, old.st_gid) == 0;
  if (!ownerKept && chown(pendingPath.c_str(), static_cast<uid_t>(-1), old.st_gid) != 0) {
    // Not a member of the old group: the file gets ours, as a new file would.
  }
  chmod(pendingPath.c_str(), old.st_mode & (ownerKept ? 07777 : 0777));
}

// Interrupts wait while the calling thread holds the file lock.
class FileSection {
 public:
  FileSection() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&interrupts, signalNumber);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous_);
    LockFiles();
  }
  ~FileSection() {
    g_fileLock.clear(std::memory_order_release);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  FileSection(const FileSection&) = delete;
  FileSection& operator=(const FileSection&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

bool IsDeviceOrPipe(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

void SetNoClobber(bool noClobber) { g_noClobber = noClobber; }

std::string PendingPathFor(const std::string& finalPath) {
  size_t slash = finalPath.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  if (IsDeviceOrPipe(finalPath)) {
    const char* tmp = getenv("TMPDIR");
    dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/";
    base = "kestrune-render-" + base;
  }
  return dir + "." + base + ".partial-" + std::to_string(static_cast<long>(getpid())) + "-" +
         std::to_string(++g_pendingSerial);
}

void TrackPendingFile(const std::string& pendingPath) {
  if (pendingPath.size() >= kMaxPath) return;
  FileSection section;
  for (int i = 0; i < kMaxPending; ++i) {
    if (!g_used[i]) {
      memcpy(g_pending[i], pendingPath.c_str(), pendingPath.size() + 1);
      g_used[i] = 1;
      // Made here, inside the section: an interrupt sees it registered or
      // not made at all. Whoever writes it opens it again, truncating.
      const int fd = open(pendingPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666);
      if (fd >= 0) {
        close(fd);
      } else {
        g_used[i] = 0;  // the writer's own open reports why
      }
      return;
    }
  }
}

void UntrackPendingFile(const std::string& pendingPath) {
  FileSection section;
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
  // Past a file-size limit a write fails with EFBIG, which is reported and
  // cleaned up like any other write error, instead of killing the process.
  signal(SIGXFSZ, SIG_IGN);
  atexit(RemovePendingFiles);
}

bool CommitPendingFile(const std::string& pendingPath, const std::string& finalPath,
                       std::string& error) {
  struct stat old;
  const bool exists = stat(finalPath.c_str(), &old) == 0;
  bool ok;
  errno = 0;
  if (exists && !S_ISREG(old.st_mode)) {
    ok = WriteIntoDevice(pendingPath, finalPath);
  } else if (exists && g_noClobber) {
    errno = EEXIST;
    ok = false;
  } else if (exists && old.st_nlink > 1) {
    // An interrupt here would leave the file half old, half new: it waits
    // until the copy is done.
    int savedErrno = 0;
    {
      FileSection section;
      ok = RewriteInPlace(pendingPath, finalPath);
      savedErrno = errno;
    }
    errno = savedErrno;
  } else if (exists) {
    TakeOverOwnerAndMode(pendingPath, old);
    ok = rename(pendingPath.c_str(), finalPath.c_str()) == 0;
  } else {
    // With -n, not even a file that appeared after the checks is replaced.
    if (g_noClobber) {
      ok = renameat2(AT_FDCWD, pendingPath.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) == 0;
      // A file system without it: a hard link cannot replace anything either.
      if (!ok && errno == EINVAL) ok = link(pendingPath.c_str(), finalPath.c_str()) == 0;
    } else {
      ok = rename(pendingPath.c_str(), finalPath.c_str()) == 0;
    }
  }
  if (!ok) error = std::string("cannot write '") + finalPath + "': " + strerror(errno ? errno : EIO);
  unlink(pendingPath.c_str());
  UntrackPendingFile(pendingPath);
  return ok;
}

PendingSet::~PendingSet() {
  for (const auto& file : files_) {
    unlink(file.pending.c_str());
    UntrackPendingFile(file.pending);
  }
}

std::string PendingSet::Add(const std::string& target) {
  files_.push_back({PendingPathFor(target), target});
  TrackPendingFile(files_.back().pending);
  return files_.back().pending;
}

bool PendingSet::CommitAll(std::string& error) {
  for (size_t i = 0; i < files_.size(); ++i) {
    if (!CommitPendingFile(files_[i].pending, files_[i].target, error)) {
      files_.erase(files_.begin(), files_.begin() + static_cast<long>(i) + 1);
      return false;
    }
  }
  files_.clear();
  return true;
}

}  // namespace render
