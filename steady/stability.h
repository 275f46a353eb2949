// Linear stability of a steady state: the rightmost eigenvalues of
// A v = lambda M v (steady/time_form.h) in both perturbation classes, by
// shift-and-invert Krylov-Schur (SLEPc) on one process.
#pragma once

#include <petscsys.h>

#include <vector>

#include "steady/mode_class.h"
#include "steady/residual.h"

namespace plume::steady {

// The rightmost eigenvalue of one class and its eigenvector (real and
// imaginary parts, T, Omega, Psi node by node as the solver's vectors).
struct LeadingMode {
  bool found = false;  // false: no eigenvalue converged
  double re = 0, im = 0;
  std::vector<double> vre, vim;
  std::vector<double> allRe, allIm;  // every converged eigenvalue of the class
  // Every eigenvalue with |lambda| below this is among them: a mode further
  // right than the leading one would have |Im lambda| >= sqrt(radius^2 - re^2).
  double radius = 0;
  double seconds = 0;  // wall time of the class's eigen-solve
};

struct Stability {
  LeadingMode same, opposite;
  bool stable = false;  // both found and both real parts negative
};

// The leading mode of `parity`'s class at `at` (fields completed, as after
// solveSteady()). Options: -stability_nev N eigenvalues per shift.
PetscErrorCode leadingMode(const Evaluation& at, ModeClass parity, LeadingMode* mode);

// Both classes.
PetscErrorCode computeStability(const Evaluation& at, Stability* out);

}  // namespace plume::steady
