// plume-steady --sweep FROM TO N: N steady states from point to point by
// continuation, each verified, written and added to sweep.csv as soon as it
// is done; a sweep run again computes only the points it lacks.
#pragma once

#include <petscsys.h>

#include "steady/arguments.h"
#include "steady/newton.h"
#include "steady/solver_setup.h"

namespace plume::steady {

// Runs the sweep with Pr and the wall temperatures of `base` (its Gr is not
// used) on a problem set up once. `status` as steady/finish.h says: 2 when a
// point could not be reached (the sweep ends there). With `stability`
// (--stability) each converged point's stability goes into its summary and
// row, its leading modes beside its checkpoint; a point finished earlier
// without it is computed again.
PetscErrorCode runSweep(const SweepRange& range, const Case& base,
                        SteadyProblem& problem, NewtonRun& newton, int* status,
                        bool stability = false);

}  // namespace plume::steady
