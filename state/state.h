// The solution state (the three fields and the sum the stopping test
// compares) and the case it is computed for (the two numbers of the model
// and the four wall temperatures). Both are passed to whatever reads them;
// a function that changes them takes them by non-const reference.
#pragma once

#include "state/grid.h"

namespace plume {

struct Case {
  double Gr = 0.0;  // Grashof number
  double Pr = 0.0;  // Prandtl number
  double tBottom = 0.0;
  double tTop = 0.0;
  double tLeft = 0.0;
  double tRight = 0.0;
};

// About 27 MB: a program keeps its state in static storage (or on the heap),
// never on the stack. Value-initialised, everything is zero.
struct State {
  alignas(64) Field Psi;    // stream function
  alignas(64) Field Omega;  // vorticity
  alignas(64) Field T;      // temperature
  double omegaSqSum;        // sum of squared vorticity of the latest iteration
};

}  // namespace plume
