// Out-of-line forms of the exact divisions of exact_division.h, one per
// instruction set, for the tests and benchmarks: q[i] = x[i] / d for
// i < n, bit for bit. x and q may be the same array.
#pragma once

#include <cstddef>

namespace plume {

enum class GridDivisor { H, TwoH, HH, FourOverHH };

// Needs cpuHasAvx512().
void divideArrayAvx512(GridDivisor d, const double* x, double* q, std::size_t n);
// Need cpuHasAvx2Fma(). The scalar form is the double overload built with FMA.
void divideArrayAvx2(GridDivisor d, const double* x, double* q, std::size_t n);
void divideArrayScalar(GridDivisor d, const double* x, double* q, std::size_t n);
// Any x86-64: the double overload built without FMA, i.e. a real division.
void divideArrayGeneric(GridDivisor d, const double* x, double* q, std::size_t n);

}  // namespace plume
