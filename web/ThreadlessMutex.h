// std::mutex for the WebAssembly build, whose libc++ has no threads (and so
// no mutex): each instance runs on one thread of its own, so a lock that
// does nothing is exact. Included ahead of the graphics sources, which keep
// their caches behind std::mutex for the modules' many threads.
#pragma once

#include <mutex>

#if defined(__wasi__) && defined(_LIBCPP_HAS_NO_THREADS)
_LIBCPP_BEGIN_NAMESPACE_STD
class mutex {
 public:
  constexpr mutex() noexcept = default;
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;
  void lock() {}
  bool try_lock() { return true; }
  void unlock() {}
};
_LIBCPP_END_NAMESPACE_STD
#endif
