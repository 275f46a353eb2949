// The check that a steady state is the designed iteration's fixed point: the
// designed iteration (the production kernels) runs from it, printing each
// iteration's residual as plume does, until its stopping rule passes.
#pragma once

#include "state/state.h"

namespace plume::steady {

inline constexpr int kSelfCheckIterations = 10;

struct SelfCheck {
  bool passed;         // the stopping rule passed within kSelfCheckIterations
  int iterations;      // iterations run
  double omegaSqSum;   // sum of squared vorticity of the last iteration
  double previousSum;  // that of the iteration before it (0 before the first)
};

// Runs the check on `s` of case `c`; it is left as the last iteration made
// it, with the mirror half filled.
SelfCheck runSelfCheck(State& s, const Case& c);

}  // namespace plume::steady
