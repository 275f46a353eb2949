// Newton's method on the residual of steady/residual.h, with continuation in
// Gr (steady/continuation.h) when Newton from the starting state does not
// converge.
#pragma once

#include <petscvec.h>

#include "state/parameters.h"
#include "steady/solver_setup.h"

namespace plume::steady {

enum class SolveEnd {
  Converged,     // the residual reached the level of rounding at the wanted Gr
  NotConverged,  // the step budget ran out, or continuation could not go on
  NonFinite,     // a residual became infinite or NaN
};

struct SolveOutcome {
  SolveEnd end;
  double residual;  // 2-norm of the residual of the state chosen to write
  int newtonSteps;  // Newton steps of this solve, all stages together
  double reachedGr; // Gr of the last accepted state (the wanted Gr when converged)
};

// What the solves of one run share: the step budget of each solve, the
// numbering of Newton steps (it never restarts within a run) and the clock
// the step lines show.
struct NewtonRun {
  int budget = 100;       // Newton steps allowed in one solve
  int stepsBefore = 0;    // Newton steps of the earlier solves
  double startTime = 0;   // MPI_Wtime() at the start of the run
  bool forcing = true;    // linear tolerances chosen step by step (no -ksp_rtol, -snes_ksp_ew)
  int stagesBefore = 0;   // continuation stages printed so far
};

// Reads -steady_max_steps and whether the linear tolerances are the user's.
PetscErrorCode startNewtonRun(NewtonRun* run);

// Solves for the fixed point of the case `target`, starting from `x`, a state
// solved at Gr = `fromGr` (0: the initial state) with target's other
// parameters. On return `x` holds the state chosen to write (the solution, or
// the best state found, see SolveOutcome) and the fields hold it too,
// completed for the designed iteration, with target's Gr and Pr.
//
// Each stage starts from the secant through the last two solved states
// (extrapolationWeight()): the accepted state and the one before it, at first
// `before`, a state solved at `beforeGr` (nullptr: none, the first stage
// starts from `x` itself).
PetscErrorCode solveSteady(SteadyProblem& p, Vec x, double fromGr, const Case& target,
                           NewtonRun& run, SolveOutcome* outcome, Vec before = nullptr,
                           double beforeGr = 0);

}  // namespace plume::steady
