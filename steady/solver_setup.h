// The steady problem set up once for PETSc and reused by every solve of a
// run: the distributed array of unknowns, the Jacobian's matrix and a Newton
// solver whose factors are kept across Newton steps, continuation stages and
// solves, and renewed only when the linear solves need it.
#pragma once

#include <petscdmda.h>
#include <petscsnes.h>

#include "state/parameters.h"

namespace plume::steady {

struct SteadyProblem {
  DM da = nullptr;    // the unknowns: three per node of the computed half
  Mat J = nullptr;    // the Jacobian, with exactly its entries' structure
  SNES snes = nullptr;
  // The case the residual and the Jacobian are evaluated for: the callbacks'
  // application context, set before each Newton stage. The problem must stay
  // where it was created.
  ParameterValues stage{};
  // The Newton solve in progress, read by the monitor and convergence test
  // solveSteady() attaches once (steady/newton.cpp).
  void* newtonSolve = nullptr;
  bool newtonAttached = false;
};

// Sets the default options (any given on the command line or in
// PETSC_OPTIONS win) and creates the problem. Reads every option of the
// solver, so options nobody reads can be told afterwards.
PetscErrorCode createSteadyProblem(SteadyProblem* p);
PetscErrorCode destroySteadyProblem(SteadyProblem* p);

// Copies the fields' unknowns into the global vector `x`.
PetscErrorCode storeFields(const SteadyProblem& p, Vec x);

// Gathers the whole state `x` on every process into the fields, with Gr and
// Pr of `c`, and completes them for the designed iteration (mirror half,
// wall vorticity).
PetscErrorCode loadWholeState(const SteadyProblem& p, Vec x, const ParameterValues& c);

// True when the option `name` was given.
PetscErrorCode optionGiven(const char* name, bool* given);

}  // namespace plume::steady
