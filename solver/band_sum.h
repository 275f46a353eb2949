// The vorticity band sums of the vector wavefront: terms that cannot change
// a sum are passed over (band_sum_skip.h says why that keeps the bits).
#pragma once

#include "solver/simd.h"

namespace plume {
namespace {

// Half an ulp of s in every lane, or 0 (nothing is below it).
inline Vec halfUlpOf(double s) {
  const unsigned long long exponent =
      __builtin_bit_cast(unsigned long long, s) & 0x7ff0000000000000ULL;
  return vset(s >= 0x1p-1021 && s <= 0x1.fffffffffffffp+1023
                  ? __builtin_bit_cast(double, exponent) * 0x1p-53
                  : 0.0);
}

// The eight terms (w[k]*w[k])*2, each with the scalar operations.
inline Vec termsOf(const double* w) {
  const Vec v = vload(w);
  return vmul(vmul(v, v), vset(2.0));
}

// Whether all eight terms are below halfUlp.
inline bool negligible(Vec terms, Vec halfUlp) { return vless(terms, halfUlp) == kAllLanes; }
inline bool negligibleTerms(const double* w, Vec halfUlp) {
  return negligible(termsOf(w), halfUlp);
}

}  // namespace
}  // namespace plume
