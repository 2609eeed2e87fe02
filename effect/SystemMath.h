// exp and log for the per-frame gain computer.
//
// Elsewhere these are the C library's own. The MinGW runtime replaces them
// with old x87 routines several times slower than the system C library's
// (msvcrt.dll, which every Windows module imports anyway), so on Windows the
// gain computer calls msvcrt's through its import slots. Results agree with
// the other builds to the last bit or so; within one Windows build both
// formats use the same functions.
#pragma once

#include <cmath>

#if defined(__MINGW32__)
extern "C" {
extern double (*__imp_exp)(double);
extern double (*__imp_log)(double);
}
#endif

namespace kestrune {

#if defined(__MINGW32__)
inline double SystemExp(double x) { return __imp_exp(x); }
inline double SystemLog(double x) { return __imp_log(x); }
#else
inline double SystemExp(double x) { return std::exp(x); }
inline double SystemLog(double x) { return std::log(x); }
#endif

}  // namespace kestrune
