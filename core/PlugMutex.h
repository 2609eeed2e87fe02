// PlugMutex: the plug-in lock, a recursive mutex whose owner re-enters it and
// whose try_lock wait for nothing, without calling into the system.
//
// Why not std::recursive_mutex: the audio thread of a hard real-time format
// (LV2's run) must not call pthread_mutex_lock or pthread_mutex_unlock at
// all, yet it runs the effect's hooks, which guard themselves with the lock
// (PlugLockGuard in ParamChanged, ResetProcessing, ProcessHostBlock). Here:
//   - try_lock is one compare-and-swap; taken again by the thread that holds
//     the lock, lock and try_lock only count.
//   - unlock is one exchange; only when another thread is waiting (a state
//     save meeting a block) does it wake it through a condition variable.
//   - lock by a thread that does not hold it waits on that condition variable
//     (user-interface threads, and the audio thread of the VST2 and VST3
//     bindings, which wait for a parameter or state call in progress; no
//     binding holds the lock while the editor draws).
// Meets the standard's Lockable requirements (lock, try_lock, unlock), so
// std::lock_guard and std::unique_lock work with it.
//
// WebAssembly (the web page's build) has no threads: an instance lives on
// the one thread that calls it, so the lock only counts its owner's depth.
#pragma once

#include <atomic>
#include <mutex>
#if !defined(__wasi__)
#include <condition_variable>
#include <thread>
#endif

class PlugMutex {
 public:
  PlugMutex() = default;
  PlugMutex(const PlugMutex&) = delete;
  PlugMutex& operator=(const PlugMutex&) = delete;

  void lock();
  bool try_lock();
  void unlock();

#if defined(__wasi__)
  bool HeldByThisThread() const { return depth_ > 0; }

 private:
  int depth_ = 0;
#else
  // True when the calling thread holds the lock.
  bool HeldByThisThread() const {
    return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

 private:
  enum : int { kFree = 0, kHeld = 1, kHeldWithWaiters = 2 };
  std::atomic<int> state_{kFree};
  // Written only by the thread that holds the lock; a thread finds its own
  // id here only while it holds the lock.
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // touched only by the owner
  std::mutex waitMutex_;
  std::condition_variable released_;
#endif
};
