// The SSE2 operations the signal path uses, for processors without SSE2
// (64-bit ARM), in GCC's generic vector operations: each one gives the bits
// the x86 instruction gives, lane for lane, so both builds round and select
// exactly alike. On aarch64 the compiler turns them into NEON instructions
// (fmul, fadd, fsqrt, fcmge, bsl, ... on v registers). Included by
// LaneVectors.h only where <emmintrin.h> is not available.
#pragma once

#include <climits>
#include <cstring>

typedef double __m128d __attribute__((vector_size(16)));
typedef float __m128 __attribute__((vector_size(16)));
typedef long long __m128i __attribute__((vector_size(16)));

namespace kestrune {
namespace {

typedef long long Sse2Bits __attribute__((vector_size(16)));
typedef int Sse2Ints __attribute__((vector_size(16)));

inline __m128d _mm_set1_pd(double v) { return __m128d{v, v}; }
inline __m128d _mm_set_sd(double v) { return __m128d{v, 0.0}; }
inline double _mm_cvtsd_f64(__m128d a) { return a[0]; }
inline __m128d _mm_loadu_pd(const double* p) {
  __m128d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline __m128d _mm_and_pd(__m128d a, __m128d b) { return (__m128d)((Sse2Bits)a & (Sse2Bits)b); }
inline __m128d _mm_or_pd(__m128d a, __m128d b) { return (__m128d)((Sse2Bits)a | (Sse2Bits)b); }
inline __m128d _mm_andnot_pd(__m128d a, __m128d b) { return (__m128d)(~(Sse2Bits)a & (Sse2Bits)b); }

// Comparisons give all ones or all zeros per lane; ordered (false for NaN).
inline __m128d _mm_cmpge_pd(__m128d a, __m128d b) { return (__m128d)(a >= b); }
inline __m128d _mm_cmple_pd(__m128d a, __m128d b) { return (__m128d)(a <= b); }
inline __m128d _mm_cmpgt_sd(__m128d a, __m128d b) {
  Sse2Bits result = (Sse2Bits)a;
  result[0] = a[0] > b[0] ? -1 : 0;
  return (__m128d)result;
}
// minpd: the second operand unless the first is less (so the second for NaN
// in either and for equal values such as -0 and +0).
inline __m128d _mm_min_pd(__m128d a, __m128d b) { return a < b ? a : b; }
inline __m128d _mm_sqrt_pd(__m128d a) { return __m128d{__builtin_sqrt(a[0]), __builtin_sqrt(a[1])}; }
inline int _mm_movemask_pd(__m128d a) {
  const Sse2Bits bits = (Sse2Bits)a;
  return static_cast<int>(static_cast<unsigned long long>(bits[0]) >> 63) |
         static_cast<int>(static_cast<unsigned long long>(bits[1]) >> 63) << 1;
}
inline __m128d _mm_unpacklo_pd(__m128d a, __m128d b) { return __m128d{a[0], b[0]}; }
inline __m128d _mm_unpackhi_pd(__m128d a, __m128d b) { return __m128d{a[1], b[1]}; }

// Conversions round to nearest, as the default MXCSR.
inline __m128 _mm_cvtpd_ps(__m128d a) {
  return __m128{static_cast<float>(a[0]), static_cast<float>(a[1]), 0.0f, 0.0f};
}
inline __m128d _mm_cvtps_pd(__m128 a) {
  return __m128d{static_cast<double>(a[0]), static_cast<double>(a[1])};
}
// cvttpd2dq: truncated toward zero; NaN and values outside int32 give
// INT32_MIN (the "integer indefinite" value), not a saturated one.
inline int TruncateLikeSse2(double v) {
  return v > -2147483649.0 && v < 2147483648.0 ? static_cast<int>(v) : INT_MIN;
}
inline __m128i _mm_cvttpd_epi32(__m128d a) {
  return (__m128i)(Sse2Ints{TruncateLikeSse2(a[0]), TruncateLikeSse2(a[1]), 0, 0});
}
inline __m128d _mm_cvtepi32_pd(__m128i a) {
  const Sse2Ints v = (Sse2Ints)a;
  return __m128d{static_cast<double>(v[0]), static_cast<double>(v[1])};
}

inline __m128i _mm_setzero_si128() { return __m128i{0, 0}; }
inline __m128i _mm_set1_epi32(int v) { return (__m128i)(Sse2Ints{v, v, v, v}); }
inline int _mm_cvtsi128_si32(__m128i a) { return ((Sse2Ints)a)[0]; }
inline __m128d _mm_castsi128_pd(__m128i a) { return (__m128d)a; }
inline __m128i _mm_and_si128(__m128i a, __m128i b) { return a & b; }
inline __m128i _mm_or_si128(__m128i a, __m128i b) { return a | b; }
inline __m128i _mm_andnot_si128(__m128i a, __m128i b) { return ~a & b; }
inline __m128i _mm_cmplt_epi32(__m128i a, __m128i b) { return (__m128i)((Sse2Ints)a < (Sse2Ints)b); }
inline __m128i _mm_cmpgt_epi32(__m128i a, __m128i b) { return (__m128i)((Sse2Ints)a > (Sse2Ints)b); }

}  // namespace
}  // namespace kestrune

#define _MM_SHUFFLE(z, y, x, w) (((z) << 6) | ((y) << 4) | ((x) << 2) | (w))
// pshufd: lane k of the result is lane (imm >> 2k) & 3 of a.
#define _mm_shuffle_epi32(a, imm)                                                       \
  ((__m128i)__builtin_shufflevector((kestrune::Sse2Ints)(a), (kestrune::Sse2Ints)(a), \
                                    (imm) & 3, ((imm) >> 2) & 3, ((imm) >> 4) & 3,     \
                                    ((imm) >> 6) & 3))
