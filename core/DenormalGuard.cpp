#include "DenormalGuard.h"

#ifdef KESTRUNE_HAS_MXCSR
#include <xmmintrin.h>

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
#elif defined(__aarch64__)
// AArch64: the FPCR's FZ bit flushes subnormal inputs and results to zero in
// every single- and double-precision operation and conversion, as MXCSR's
// FTZ and DAZ together do, so both builds compute the same bits.
namespace {
constexpr unsigned long kFlushToZero = 1ul << 24;
unsigned long ReadFpcr() {
  unsigned long value;
  __asm__ __volatile__("mrs %0, fpcr" : "=r"(value));
  return value;
}
void WriteFpcr(unsigned long value) { __asm__ __volatile__("msr fpcr, %0" : : "r"(value)); }
}  // namespace

DenormalGuard::DenormalGuard() : savedControl_(static_cast<unsigned int>(ReadFpcr())) {
  WriteFpcr(savedControl_ | kFlushToZero);
}

// FPCR's upper half is reserved (reads as zero); the lower half goes back
// whole: the host's rounding mode and its own flush setting.
DenormalGuard::~DenormalGuard() { WriteFpcr(savedControl_); }
#else
DenormalGuard::DenormalGuard() : savedControl_(0) {}
DenormalGuard::~DenormalGuard() {}
#endif
