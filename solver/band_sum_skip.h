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

namespace plume {

// Whether negligibleTerms skips the eight terms of w against the sum s, as
// built for AVX-512 (needs cpuHasAvx512()) and for AVX2 (cpuHasAvx2Fma()).
// Out of line for the tests; the kernels use the inline forms of
// band_sum.h.
bool negligibleTermsAvx512(const double* w, double s);
bool negligibleTermsAvx2(const double* w, double s);

}  // namespace plume

