// The Jacobian of the residual r(u) = u - G(u), formed analytically from the
// weights' derivatives. The weights depend on |e| of each face velocity e;
// at e = 0 the mean of the two one-sided derivatives is taken.
#pragma once

#include <petscdmda.h>
#include <petscmat.h>

#include <vector>

#include "steady/mode_class.h"
#include "steady/residual.h"

namespace plume::steady {

// One entry of a residual row: the unknown `field` (0 T, 1 Omega, 2 Psi) at
// grid node (i, j), and its coefficient.
struct JacobianEntry {
  int i, j, field;
  double value;
};

// Appends the entries of the row of `field`'s residual at grid node (i, j),
// 1 <= i <= 600, 1 <= j <= 919, at `at` (fields as loadState() filled them). Held
// values (walls, the source node) have no entry; the mirror row and the wall
// vorticity are resolved to the unknowns they follow, row 601 by the mirror
// rule of class `c` (the state's own rule for Same, none for Whole, whose
// rows run to 1199). In the Opposite class T on the axis row is held: its row
// is the identity. The same (i, j, field)
// may appear more than once: the entries add up. The set of entries depends
// only on (i, j, field), never on the values.
void jacobianRow(const Evaluation& at, int i, int j, int field, std::vector<JacobianEntry>& out,
                 ModeClass c = ModeClass::Same);

// A matrix for the Jacobian on the distributed array `da` holding exactly the
// entries assembleJacobian() sets, so the factors do not fill in over
// structural zeros of the full box stencil. The entries of a row depend only
// on its node (jacobianRow()), so the rows are counted once and set as the
// matrix's structure.
PetscErrorCode createJacobianMatrix(const Evaluation& at, DM da, Mat* J);

// Adds the rows of the nodes of `owned` to `P`, whose local numbering is that
// of the ghosted block `ghosted` around them (unknown coordinates).
// On one process with `owned` all of class `c`'s unknowns, the rows of that
// class.
PetscErrorCode assembleJacobian(const Evaluation& at, Mat P, const Block& owned,
                                const Block& ghosted, ModeClass c = ModeClass::Same);

}  // namespace plume::steady
