// Built for the x86-64 baseline: the double overloads are real divisions.
#include <cstddef>

#include "solver/exact_division_arrays.h"

namespace plume {

void divideArrayGeneric(GridDivisor d, const double* x, double* q, std::size_t n) {
  withDivisor(d, [=](auto divide) {
    for (std::size_t i = 0; i < n; ++i) q[i] = divide(x[i]);
  });
}

}  // namespace plume
