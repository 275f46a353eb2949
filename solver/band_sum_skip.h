// Skipping terms of the vorticity band sums that cannot change them.
//
// A band sum adds t = (w*w)*2 node by node, in visiting order. The terms are
// never negative, so the sum never falls. A term below half an ulp of the sum
// leaves it unchanged (s + t rounds back to s), and stays below half an ulp
// of every later sum; when all eight terms of a vector are, the whole vector
// can be passed over. Half an ulp, 2^(e-53) for a sum 2^e <= s < 2^(e+1), is
// taken exact from a normal finite sum of at least 2^-1021; for any other sum
// (zero, subnormal, inf, NaN) nothing is skipped.
#pragma once

#if defined(__AVX512F__)
#include <immintrin.h>
#endif

namespace plume {

// Whether negligibleTerms skips the eight terms of w against the sum s. Out
// of line for the tests; needs cpuHasAvx512().
bool negligibleTermsAvx512(const double* w, double s);

#if defined(__AVX512F__)
namespace {

// Half an ulp of s in every lane, or 0 (nothing is below it).
inline __m512d halfUlpOf(double s) {
  const unsigned long long exponent = __builtin_bit_cast(unsigned long long, s) & 0x7ff0000000000000ULL;
  return _mm512_set1_pd(s >= 0x1p-1021 && s <= 0x1.fffffffffffffp+1023
                            ? __builtin_bit_cast(double, exponent) * 0x1p-53
                            : 0.0);
}

// Whether all eight terms (w[k]*w[k])*2 are below halfUlp.
inline bool negligibleTerms(const double* w, __m512d halfUlp) {
  const __m512d v = _mm512_loadu_pd(w);
  const __m512d t = _mm512_mul_pd(_mm512_mul_pd(v, v), _mm512_set1_pd(2.0));
  return _mm512_cmp_pd_mask(t, halfUlp, _CMP_LT_OQ) == 0xFF;
}

}  // namespace
#endif

}  // namespace plume
