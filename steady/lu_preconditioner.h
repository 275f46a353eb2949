// The preconditioner of the Newton steps' linear solves on one process: a
// sparse LU factorisation of the Jacobian in single precision (MUMPS), in the
// nested-dissection order of the grid. Single precision halves the memory
// and time of the factors; the Krylov method around it solves in double
// precision, and the factors stay good for several Newton steps.
#pragma once

#include <petscpc.h>

namespace plume::steady {

enum class LuPrecision { Single, Double };

// Makes `pc` this preconditioner for a Jacobian on a rows x cols grid with
// three unknowns per node, numbered node by node, row by row. In double
// precision (twice the memory) the factors solve exactly enough to be used
// alone (the eigen-solver's shift-and-invert).
PetscErrorCode setLuPreconditioner(PC pc, int rows, int cols,
                                   LuPrecision precision = LuPrecision::Single);

// Asks `pc` (single precision) for the sign of the determinant with every factorisation from
// now on; *available is false when `pc` is not this preconditioner.
PetscErrorCode requestLuDeterminant(PC pc, bool* available);

// Sign of det of the matrix `pc` factorised last: +1, -1, or 0 when it is
// not known (a zero pivot, or the factorisation failed).
PetscErrorCode luDeterminantSign(PC pc, int* sign);

// Frees the factors `pc` holds (this preconditioner, either precision;
// nothing otherwise), e.g. before an eigen-solve needs the memory. Its next
// application factorises the matrix it was last given again.
PetscErrorCode releaseLuFactors(PC pc);

}  // namespace plume::steady
