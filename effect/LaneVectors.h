// Vectors of two and four doubles for the signal path (see SignalPath.h).
// Two lanes (Stereo) hold left and right; the SSE2 intrinsics on them are
// part of every x86-64 processor (elsewhere Sse2Fallback.h gives the same
// bits in generic vector code). Four lanes (Quad) serve the AVX2 copy of
// the loop. Arithmetic on them is per-lane IEEE arithmetic, and the build
// contracts nothing into fused multiply-adds (-ffp-contract=off), so each
// lane rounds exactly as the scalar expression would.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#else
#include "Sse2Fallback.h"
#endif

namespace kestrune {
// Private to the signal path's sources (see SignalPath.h): each of them gets
// its own copy, inlined where the loop uses it.
namespace {

typedef double Stereo __attribute__((vector_size(16)));

inline Stereo Both(double v) { return Stereo{v, v}; }

inline Stereo ToSingle(Stereo x) { return (Stereo)_mm_cvtps_pd(_mm_cvtpd_ps((__m128d)x)); }

typedef unsigned long long StereoBits __attribute__((vector_size(16)));

// Branch-free selection: the compare gives an all-ones or all-zeros mask, so
// an unpredictable decision costs no pipeline flush. Greater is false for
// NaN, exactly as the C++ comparison.
inline __m128d Greater(double a, double b) { return _mm_cmpgt_sd(_mm_set_sd(a), _mm_set_sd(b)); }
inline double Select(__m128d mask, double ifTrue, double ifFalse) {
  return _mm_cvtsd_f64(
      _mm_or_pd(_mm_and_pd(mask, _mm_set_sd(ifTrue)), _mm_andnot_pd(mask, _mm_set_sd(ifFalse))));
}

// Four-lane vectors for the AVX2 copy of the processing loop. Only GCC's
// generic vector operations are used on them (no AVX intrinsics), so the
// functions on them compile anywhere; they are inlined only into the AVX2
// copy, where each operation is one AVX instruction on all four lanes. They
// must be inlined (KESTRUNE_WIDE): called out of line, a function compiled
// without AVX would pass these vectors differently from its AVX caller (the
// compiler's note about that is silenced below for this reason).
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double Quad __attribute__((vector_size(32)));
typedef long long QuadMask __attribute__((vector_size(32)));
typedef unsigned long long QuadBits __attribute__((vector_size(32)));

#define KESTRUNE_WIDE inline __attribute__((always_inline))
KESTRUNE_WIDE Quad Join(Stereo low, Stereo high) {
  return __builtin_shufflevector(low, high, 0, 1, 2, 3);
}
KESTRUNE_WIDE Stereo LowHalf(Quad q) { return __builtin_shufflevector(q, q, 0, 1); }
KESTRUNE_WIDE Stereo HighHalf(Quad q) { return __builtin_shufflevector(q, q, 2, 3); }
KESTRUNE_WIDE Quad All(double v) { return Quad{v, v, v, v}; }
KESTRUNE_WIDE Quad Magnitude(Quad v) { return (Quad)((QuadMask)v & 0x7FFFFFFFFFFFFFFFLL); }

typedef int QuadIndex __attribute__((vector_size(16)));

}  // namespace
}  // namespace kestrune
