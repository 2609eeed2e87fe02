// Flush-to-zero and denormals-are-zero for the length of one processing
// call. Subnormal numbers cost many times the time of normal ones on x86, and
// a subnormal float handed back to a host can slow the host's own mixing, so
// processing runs with both modes set and puts the host's floating-point
// control state back when the guard goes out of scope.
//
// Guards nest: each one restores exactly what it found. On 64-bit ARM the
// guard sets the FPCR's flush-to-zero bit instead; where neither control
// register exists the guard does nothing.
// Created and destroyed on the same thread (the audio thread, inside the
// plug-in lock); the control register is per thread.
#pragma once

#include <cmath>

// The control registers the guard sets: x86's MXCSR, or 64-bit ARM's FPCR.
#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#define KESTRUNE_HAS_MXCSR 1
#endif

class DenormalGuard {
 public:
  DenormalGuard();
  ~DenormalGuard();
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

 private:
  unsigned int savedControl_;
};

// The conversions at the host's edge, as they come out under the guard. On
// x86 and 64-bit ARM the control register does the flushing and these are
// plain conversions. Where the guard has no register to set (WebAssembly)
// they do it themselves, as MXCSR's modes do: a subnormal float read from
// the host is a zero of its sign (denormals-are-zero), and a result too
// small for a normal float reaches the host as a zero of its sign
// (flush-to-zero, judged after rounding to float's precision, as x86 judges
// it). The signal path within flushes its own filters' tiny values.
#if defined(KESTRUNE_HAS_MXCSR) || defined(__aarch64__)
inline double FromHostFloat(float x) { return x; }
inline float ToHostFloat(double x) { return static_cast<float>(x); }
inline float AddHostFloats(float a, float b) { return a + b; }
#else
inline float FlushSubnormalFloat(float x) {
  return std::fabs(x) < 0x1p-126f ? std::copysign(0.0f, x) : x;
}
inline double FromHostFloat(float x) { return FlushSubnormalFloat(x); }
inline float ToHostFloat(double x) {
  // Scaled by 2^100 the rounding happens at float's full precision, with no
  // subnormal in the way; tiny after rounding means below 2^-126 there.
  const float converted = static_cast<float>(x);
  if (std::fabs(static_cast<float>(x * 0x1p100)) < 0x1p-26f) return std::copysign(0.0f, converted);
  return converted;
}
// A sum of floats that lands below the normal range is exact, so before
// and after rounding agree there.
inline float AddHostFloats(float a, float b) {
  return FlushSubnormalFloat(FlushSubnormalFloat(a) + FlushSubnormalFloat(b));
}
#endif
