#include "PlugMutex.h"

#if defined(__wasi__)
void PlugMutex::lock() { ++depth_; }

bool PlugMutex::try_lock() {
  ++depth_;
  return true;
}

void PlugMutex::unlock() { --depth_; }
#else

static_assert(std::atomic<std::thread::id>::is_always_lock_free, "the owner check must not lock");

bool PlugMutex::try_lock() {
  if (HeldByThisThread()) {
    ++depth_;
    return true;
  }
  int expected = kFree;
  if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                      std::memory_order_relaxed))
    return false;
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  depth_ = 1;
  return true;
}

void PlugMutex::lock() {
  if (try_lock()) return;
  {
    // The wait mutex is held from marking the lock as waited for until the
    // wait begins, so an unlock in between wakes this thread rather than
    // nobody.
    std::unique_lock<std::mutex> wait(waitMutex_);
    while (state_.exchange(kHeldWithWaiters, std::memory_order_acquire) != kFree)
      released_.wait(wait);
  }
  // Taken as "held with waiters": its unlock wakes any other waiter, at the
  // price of one spare notification when there is none.
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  depth_ = 1;
}

void PlugMutex::unlock() {
  if (--depth_ > 0) return;
  owner_.store(std::thread::id(), std::memory_order_relaxed);
  if (state_.exchange(kFree, std::memory_order_release) == kHeldWithWaiters) {
    std::lock_guard<std::mutex> wait(waitMutex_);
    released_.notify_all();
  }
}
#endif
