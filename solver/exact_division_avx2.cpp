// Built with AVX2 and FMA: no standard-library headers here, so that no
// inline library function compiled for AVX2 can stand in for the baseline copy.
#include <cstddef>
#include <immintrin.h>

#include "solver/exact_division_arrays.h"

namespace plume {

void divideArrayAvx2(GridDivisor d, const double* x, double* q, std::size_t n) {
  withDivisor(d, [=](auto divide) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) _mm256_storeu_pd(q + i, divide(_mm256_loadu_pd(x + i)));
    for (; i < n; ++i) q[i] = divide(x[i]);
  });
}

void divideArrayScalar(GridDivisor d, const double* x, double* q, std::size_t n) {
  withDivisor(d, [=](auto divide) {
    for (std::size_t i = 0; i < n; ++i) {
      double v = x[i];
      asm("" : "+x"(v));  // keeps the loop scalar: this is the scalar form under test
      q[i] = divide(v);
    }
  });
}

}  // namespace plume
