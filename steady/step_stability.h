// The stability of the states a sweep or a branch passes: the Newton
// solver's single-precision factors are freed before the eigen-solves, which
// need the memory for the double-precision factors of each class in turn;
// the Newton solver factorises again at its next linear solve.
#pragma once

#include <petscsnes.h>

#include "steady/stability.h"

namespace plume::steady {

// Frees the factors of `snes`'s preconditioner when it is plume's LU.
PetscErrorCode releaseNewtonFactors(SNES snes);

// Both classes at `at` (fields completed, as after solveSteady() or
// loadWholeState()), with the Newton factors freed first; printed on the
// first process. An eigen-solve that fails leaves both classes not found,
// after a message, and the run goes on.
PetscErrorCode stabilityOfState(SNES snes, const Evaluation& at, Stability* s);

// The leading mode of one class alone, the same way (for the evaluations
// that locate a critical point).
PetscErrorCode leadingModeOfState(SNES snes, const Evaluation& at, ModeClass parity,
                                  LeadingMode* mode);

}  // namespace plume::steady
