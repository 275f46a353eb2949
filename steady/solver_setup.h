// The steady problem set up once for PETSc and reused by every solve of a
// run: the distributed array of unknowns, the Jacobian's matrix and a Newton
// solver whose factors are kept across Newton steps, continuation stages and
// solves, and renewed only when the linear solves need it.
#pragma once

#include <petscdmda.h>
#include <petscsnes.h>

#include "output/checkpoint.h"
#include "state/state.h"

namespace plume::steady {

struct SteadyProblem {
  DM da = nullptr;    // the unknowns: three per node of the computed half
  Mat J = nullptr;    // the Jacobian, with exactly its entries' structure
  SNES snes = nullptr;
  // The problem is the callbacks' application context: it must stay where it
  // was created. They evaluate the residual and the Jacobian for `stage`, the
  // case set before each Newton stage, filling `state` with the unknowns
  // (the program's state, whose walls hold the case's temperatures).
  Case stage{};
  State* state = nullptr;
  // The checkpoints the program reads and writes: its own once it has read
  // or written one.
  CheckpointHistory checkpoints;
  // The Newton solve in progress, read by the monitor and convergence test
  // solveSteady() attaches once (steady/newton.cpp).
  void* newtonSolve = nullptr;
  bool newtonAttached = false;
};

// Sets the default options (any given on the command line or in
// PETSC_OPTIONS win) and creates the problem on `state`. Reads every option
// of the solver, so options nobody reads can be told afterwards.
PetscErrorCode createSteadyProblem(SteadyProblem* p, State* state);
PetscErrorCode destroySteadyProblem(SteadyProblem* p);

// Copies the unknowns of the problem's state into the global vector `x`.
PetscErrorCode storeFields(const SteadyProblem& p, Vec x);

// Gathers the whole state `x` on every process into the problem's state and
// completes it for the designed iteration (mirror half, wall vorticity).
PetscErrorCode loadWholeState(const SteadyProblem& p, Vec x);

// True when the option `name` was given.
PetscErrorCode optionGiven(const char* name, bool* given);

}  // namespace plume::steady
