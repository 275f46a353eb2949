// Newton's method on the residual of steady/residual.h: SNES on a
// distributed array of the computed half (three unknowns per node, the 3 x 3
// box stencil), with continuation in Gr when Newton from the initial state
// does not converge.
#pragma once

namespace plume::steady {

enum class SolveEnd {
  Converged,     // the residual reached the level of rounding at the wanted Gr
  NotConverged,  // the step budget ran out, or continuation could not go on
  NonFinite,     // a residual became infinite or NaN
};

struct SolveOutcome {
  SolveEnd end;
  double residual;  // 2-norm of the residual of the last accepted state
  int newtonSteps;  // Newton steps taken, all stages together
};

// Solves for the fixed point at the current Gr, starting from the fields'
// current state. On return the fields hold the last accepted state,
// completed by completeFields(), and Gr its wanted value again. Needs
// PETSc to be initialised.
SolveOutcome solveSteady();

}  // namespace plume::steady
