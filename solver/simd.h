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
// 1 / x, but `known` (= 1 / knownX) in the lanes where x equals knownX.
inline Vec reciprocalReusing(Vec x, Vec knownX, Vec known) {
  const __mmask8 same = _mm512_cmp_pd_mask(x, knownX, _CMP_EQ_OQ);
  if (same == 0xFF) return known;
  return _mm512_mask_div_pd(known, static_cast<__mmask8>(~same), _mm512_set1_pd(1.0), x);
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
inline Vec reciprocalReusing(Vec x, Vec knownX, Vec known) {
  const __m256d same = _mm256_cmp_pd(x, knownX, _CMP_EQ_OQ);
  if (_mm256_movemask_pd(same) == 0xF) return known;
  return _mm256_blendv_pd(_mm256_div_pd(_mm256_set1_pd(1.0), x), known, same);
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
inline Vec reciprocalReusing(Vec x, Vec knownX, Vec known) { return x == knownX ? known : 1 / x; }
#endif

}  // namespace
}  // namespace plume
