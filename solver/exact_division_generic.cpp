// Built for the x86-64 baseline: the double overloads are real divisions.
#include <cstddef>

#include "solver/exact_division.h"
#include "solver/exact_division_arrays.h"

namespace plume {
namespace {

template <double (*DivideOne)(double)>
void divideEach(const double* x, double* q, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) q[i] = DivideOne(x[i]);
}

}  // namespace

void divideArrayGeneric(GridDivisor d, const double* x, double* q, std::size_t n) {
  switch (d) {
    case GridDivisor::H: return divideEach<divByH>(x, q, n);
    case GridDivisor::TwoH: return divideEach<divByTwoH>(x, q, n);
    case GridDivisor::HH: return divideEach<divByHH>(x, q, n);
    case GridDivisor::FourOverHH: return divideEach<divByFourOverHH>(x, q, n);
  }
}

}  // namespace plume
