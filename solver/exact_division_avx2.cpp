// Built with AVX2 and FMA: no standard-library headers here, so that no
// inline library function compiled for AVX2 can stand in for the baseline copy.
#include <cstddef>
#include <immintrin.h>

#include "solver/exact_division.h"
#include "solver/exact_division_arrays.h"

namespace plume {
namespace {

template <__m256d (*Divide)(__m256d), double (*DivideOne)(double)>
void divideAll(const double* x, double* q, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) _mm256_storeu_pd(q + i, Divide(_mm256_loadu_pd(x + i)));
  for (; i < n; ++i) q[i] = DivideOne(x[i]);
}

template <double (*DivideOne)(double)>
void divideEach(const double* x, double* q, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    double v = x[i];
    asm("" : "+x"(v));  // keeps the loop scalar: this is the scalar form under test
    q[i] = DivideOne(v);
  }
}

}  // namespace

void divideArrayAvx2(GridDivisor d, const double* x, double* q, std::size_t n) {
  switch (d) {
    case GridDivisor::H: return divideAll<divByH, divByH>(x, q, n);
    case GridDivisor::TwoH: return divideAll<divByTwoH, divByTwoH>(x, q, n);
    case GridDivisor::HH: return divideAll<divByHH, divByHH>(x, q, n);
    case GridDivisor::FourOverHH: return divideAll<divByFourOverHH, divByFourOverHH>(x, q, n);
  }
}

void divideArrayScalar(GridDivisor d, const double* x, double* q, std::size_t n) {
  switch (d) {
    case GridDivisor::H: return divideEach<divByH>(x, q, n);
    case GridDivisor::TwoH: return divideEach<divByTwoH>(x, q, n);
    case GridDivisor::HH: return divideEach<divByHH>(x, q, n);
    case GridDivisor::FourOverHH: return divideEach<divByFourOverHH>(x, q, n);
  }
}

}  // namespace plume
