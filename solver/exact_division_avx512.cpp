// Built with AVX-512: no standard-library headers here, so that no inline
// library function compiled for AVX-512 can stand in for the baseline copy.
#include <cstddef>
#include <immintrin.h>

#include "solver/exact_division_arrays.h"

namespace plume {

void divideArrayAvx512(GridDivisor d, const double* x, double* q, std::size_t n) {
  withDivisor(d, [=](auto divide) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) _mm512_storeu_pd(q + i, divide(_mm512_loadu_pd(x + i)));
    if (i < n) {
      const __mmask8 tail = static_cast<__mmask8>((1u << (n - i)) - 1);
      _mm512_mask_storeu_pd(q + i, tail, divide(_mm512_maskz_loadu_pd(tail, x + i)));
    }
  });
}

}  // namespace plume
