// Time integration of a form M dv/dt = f(v) with M diagonal (zero on the
// algebraic unknowns) by PETSc's implicit, adaptive BDF of order 2. The
// implicit solves use the fixed matrix A (df/dv at the start, or an
// approximation of it): shift M - A, whose factors are kept from step to
// step and renewed only when the shift has moved far from the one they were
// made for or the linear solves need many iterations.
#pragma once

#include <petscts.h>

#include <functional>

namespace plume::steady {

struct TimeForm {
  std::function<PetscErrorCode(Vec v, Vec f)> rhs; // f(v)
  Mat A = nullptr;    // df/dv, fixed; with the diagonal in its structure
  Vec mass = nullptr; // the diagonal of M
  // Makes `pc` the preconditioner of the implicit solves (default: PETSc's LU).
  std::function<PetscErrorCode(PC pc)> preconditioner;
  double firstStep = 1e-4;
  double rtol = 1e-6,
         atol = 1e-12; // local error per step, relative and absolute
  // |M v' - f(v)| at or below this ends an implicit solve: the level of
  // rounding of f (0 for a linear form).
  double newtonFloor = 0;
  // f(v) = A v exactly: each step is one linear solve.
  bool linear = false;
};

struct TimeOutcome {
  int steps = 0;          // accepted steps
  int rejected = 0;       // steps the error control or the solver refused
  int factorisations = 0; // of shift M - A
  double reached = 0;     // time reached
};

// Integrates v from t = 0 to `until` (v holds the start and, on return, the
// state reached). `onStep` is told of the start and of every accepted step.
PetscErrorCode
integrate(const TimeForm &form, Vec v, double until,
          const std::function<PetscErrorCode(double t, Vec v)> &onStep,
          TimeOutcome *outcome);

} // namespace plume::steady
