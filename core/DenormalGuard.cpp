#include "DenormalGuard.h"

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define KESTRUNE_HAS_MXCSR 1
#endif

#ifdef KESTRUNE_HAS_MXCSR
namespace {
constexpr unsigned int kFlushToZero = 0x8000;
constexpr unsigned int kDenormalsAreZero = 0x0040;
}  // namespace

DenormalGuard::DenormalGuard() : savedControl_(_mm_getcsr()) {
  _mm_setcsr(savedControl_ | kFlushToZero | kDenormalsAreZero);
}

// The saved word goes back whole: the host's rounding mode and exception
// masks, and its sticky flags as they were before processing.
DenormalGuard::~DenormalGuard() { _mm_setcsr(savedControl_); }
#else
DenormalGuard::DenormalGuard() : savedControl_(0) {}
DenormalGuard::~DenormalGuard() {}
#endif
