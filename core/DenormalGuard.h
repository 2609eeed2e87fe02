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

class DenormalGuard {
 public:
  DenormalGuard();
  ~DenormalGuard();
  DenormalGuard(const DenormalGuard&) = delete;
  DenormalGuard& operator=(const DenormalGuard&) = delete;

 private:
  unsigned int savedControl_;
};
