// The vector type of the instruction set a kernel file is compiled for:
// 8 doubles with AVX-512, 4 with AVX2, one otherwise. Every operation is one
// IEEE operation per lane, so a lane gives the bits of the scalar expression.
//
// Included only by the kernel files; the anonymous namespace keeps each
// file's copy apart, so code built for one instruction set never stands in
// for another's.
#pragma once

#include <immintrin.h>

namespace plume {
namespace {

#if defined(__AVX512F__)
using Vec = __m512d;
constexpr int kWidth = 8;
inline Vec vload(const double* p) { return _mm512_loadu_pd(p); }
inline void vstore(double* p, Vec v) { _mm512_storeu_pd(p, v); }
inline Vec vset(double x) { return _mm512_set1_pd(x); }
inline Vec vadd(Vec a, Vec b) { return _mm512_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm512_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm512_div_pd(a, b); }
inline Vec vabs(Vec a) { return _mm512_abs_pd(a); }
// True if |v| <= limit in every lane of every v (false for NaN).
template <class... V>
inline bool allAtMost(Vec limit, V... v) {
  return (_mm512_cmp_pd_mask(vabs(v), limit, _CMP_LE_OQ) & ...) == 0xFF;
}
#elif defined(__AVX2__)
using Vec = __m256d;
constexpr int kWidth = 4;
inline Vec vload(const double* p) { return _mm256_loadu_pd(p); }
inline void vstore(double* p, Vec v) { _mm256_storeu_pd(p, v); }
inline Vec vset(double x) { return _mm256_set1_pd(x); }
inline Vec vadd(Vec a, Vec b) { return _mm256_add_pd(a, b); }
inline Vec vsub(Vec a, Vec b) { return _mm256_sub_pd(a, b); }
inline Vec vmul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
inline Vec vdiv(Vec a, Vec b) { return _mm256_div_pd(a, b); }
inline Vec vabs(Vec a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
template <class... V>
inline bool allAtMost(Vec limit, V... v) {
  __m256d all = _mm256_cmp_pd(limit, limit, _CMP_EQ_OQ);
  ((all = _mm256_and_pd(all, _mm256_cmp_pd(vabs(v), limit, _CMP_LE_OQ))), ...);
  return _mm256_movemask_pd(all) == 0xF;
}
#else
using Vec = double;
constexpr int kWidth = 1;
inline Vec vload(const double* p) { return *p; }
inline void vstore(double* p, Vec v) { *p = v; }
inline Vec vset(double x) { return x; }
inline Vec vadd(Vec a, Vec b) { return a + b; }
inline Vec vsub(Vec a, Vec b) { return a - b; }
inline Vec vmul(Vec a, Vec b) { return a * b; }
inline Vec vdiv(Vec a, Vec b) { return a / b; }
inline Vec vabs(Vec a) { return __builtin_fabs(a); }
template <class... V>
inline bool allAtMost(Vec limit, V... v) {
  return ((vabs(v) <= limit) && ...);
}
#endif

}  // namespace
}  // namespace plume
