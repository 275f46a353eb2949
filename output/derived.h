// Quantities derived from a state for the summary written beside the result
// files: heat flows and their balance, the Nusselt number, the extremes of
// the stream function and of the velocity, with their positions x = i*h,
// y = j*h. Pure functions of the fields and the case.
#pragma once

#include <cmath>
#include <optional>

#include "output/heat_flows.h"
#include "state/grid.h"
#include "state/parameters.h"

namespace plume {

// NaN, position too, where every candidate is NaN.
struct Extreme {
  double value = NAN;
  double x = NAN, y = NAN;  // the first node with that value in the order of rows i, then columns j
};

struct Derived {
  HeatFlows flows;
  std::optional<double> nu;  // q_source over the conduction state's; none where that is zero
  Extreme psiMax, psiMin;
  Extreme uMax, vMax;  // largest |u| = |dPsi/dy|, |v| = |dPsi/dx| by central differences
};

// All of the above for temperature `t` and stream function `psi` (whole
// fields, mirror half filled) of the case `c` (Pr and the wall temperatures).
Derived computeDerived(const Field& t, const Field& psi, const Case& c);

// The velocity components by central differences at an interior node.
double velocityU(const Field& psi, int i, int j);
double velocityV(const Field& psi, int i, int j);

}  // namespace plume
