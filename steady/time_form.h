// The time-dependent form whose steady states are the fixed points of
// plume's iteration: M du/dt = -S(u) r(u), with r the residual of
// steady/residual.h. A T or Omega row of r is u - (sum a_k u_k + b) / aP, so
// -aP r is the node's convection-diffusion operator, sum a_k u_k + b - aP u:
// with S = aP on those rows, time is in the units of the equations as
// written (at Gr = Pr = 0 the T rows are the five-point Laplacian). A Psi row
// times -4/h^2 is the Poisson equation; Psi, the source node's held values
// and, in the opposite class, T on the axis are algebraic: M = 0 there, 1 on
// the other T and Omega rows.
//
// At a steady state the Jacobian of -S(u) r(u) is -S J (the derivative of S
// multiplies r = 0): the operator of linear stability, A v = lambda M v.
// Matrices here are sequential, unknowns numbered node by node, row by row.
#pragma once

#include <petscmat.h>

#include "steady/mode_class.h"
#include "steady/residual.h"

namespace plume::steady {

// S at grid node (i, j) at `at` (fields as loadState() filled them).
NodeValues rowScale(const Evaluation& at, int i, int j);

// M at grid node (i, j) in `parity`'s class.
NodeValues massRow(int i, int j, ModeClass parity);

// A matrix with the structure of the class's Jacobian (the rows of
// jacobianRow()), all entries zero.
PetscErrorCode createClassMatrix(const Evaluation& at, ModeClass parity, Mat* A);

// A = -S J in `parity`'s class at `at`; A from createClassMatrix().
PetscErrorCode assembleClassOperator(const Evaluation& at, Mat A, ModeClass parity);

// The diagonal M of `parity`'s class, stored with zeros.
PetscErrorCode createMassMatrix(ModeClass parity, Mat* M);

}  // namespace plume::steady
