// Out-of-line forms of the exact divisions of exact_division.h, one per
// instruction set, for the tests and benchmarks: q[i] = x[i] / d for
// i < n, bit for bit. x and q may be the same array.
#pragma once

#include <cstddef>

#include "solver/exact_division.h"

namespace plume {

enum class GridDivisor { H, TwoH, HH, FourOverHH };

namespace {

// run(divide) with divide(x) the exact division of x by d, for every type
// of x the exact divisions take (built for the including file's
// instruction set).
template <class Run>
inline void withDivisor(GridDivisor d, Run run) {
  switch (d) {
    case GridDivisor::H: return run([](auto x) { return divByH(x); });
    case GridDivisor::TwoH: return run([](auto x) { return divByTwoH(x); });
    case GridDivisor::HH: return run([](auto x) { return divByHH(x); });
    case GridDivisor::FourOverHH: return run([](auto x) { return divByFourOverHH(x); });
  }
}

}  // namespace

// Needs cpuHasAvx512().
void divideArrayAvx512(GridDivisor d, const double* x, double* q, std::size_t n);
// Need cpuHasAvx2Fma(). The scalar form is the double overload built with FMA.
void divideArrayAvx2(GridDivisor d, const double* x, double* q, std::size_t n);
void divideArrayScalar(GridDivisor d, const double* x, double* q, std::size_t n);
// Any x86-64: the double overload built without FMA, i.e. a real division.
void divideArrayGeneric(GridDivisor d, const double* x, double* q, std::size_t n);

}  // namespace plume
