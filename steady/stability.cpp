#include "steady/stability.h"

#include <slepceps.h>

#include <algorithm>
#include <cmath>

#include "steady/lu_preconditioner.h"
#include "steady/residual.h"
#include "steady/time_form.h"

namespace plume::steady {

namespace {

// Eigenvalues asked for per shift.
constexpr PetscInt kDefaultNev = 8;

// The shift-and-invert solves (A - sigma M) x = b: one application of the
// double-precision LU factors of A - sigma M (MUMPS in the nested-dissection
// order of the grid), unless PETSc options (-st_ksp_type, -st_pc_type)
// choose otherwise.
PetscErrorCode setInnerSolver(EPS eps, ModeClass c) {
  PetscFunctionBeginUser;
  ST st;
  KSP ksp;
  PC pc;
  PetscCall(EPSGetST(eps, &st));
  PetscCall(STSetType(st, STSINVERT));
  PetscCall(STSetMatStructure(st, SUBSET_NONZERO_PATTERN));
  PetscCall(STGetKSP(st, &ksp));
  PetscCall(KSPSetType(ksp, KSPPREONLY));
  PetscCall(KSPGetPC(ksp, &pc));
  PetscCall(setLuPreconditioner(pc, classRows(c), kUnknownCols, LuPrecision::Double));
  PetscFunctionReturn(0);
}

PetscErrorCode copyEigenvector(Vec x, std::vector<double>& out) {
  PetscFunctionBeginUser;
  PetscInt n;
  const PetscScalar* a;
  PetscCall(VecGetLocalSize(x, &n));
  PetscCall(VecGetArrayRead(x, &a));
  out.assign(a, a + n);
  PetscCall(VecRestoreArrayRead(x, &a));
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode leadingMode(const Evaluation& at, ModeClass parity, LeadingMode* mode) {
  PetscFunctionBeginUser;
  double start = MPI_Wtime();
  Mat A, M;
  PetscCall(createClassMatrix(at, parity, &A));
  PetscCall(assembleClassOperator(at, A, parity));
  PetscCall(createMassMatrix(parity, &M));

  EPS eps;
  PetscCall(EPSCreate(PETSC_COMM_SELF, &eps));
  PetscCall(EPSSetOperators(eps, A, M));
  PetscCall(EPSSetProblemType(eps, EPS_GNHEP));
  PetscCall(EPSSetType(eps, EPSKRYLOVSCHUR));
  PetscInt nev = kDefaultNev;
  PetscCall(PetscOptionsGetInt(nullptr, nullptr, "-stability_nev", &nev, nullptr));
  PetscCall(EPSSetDimensions(eps, nev, PETSC_DEFAULT, PETSC_DEFAULT));
  PetscCall(EPSSetWhichEigenpairs(eps, EPS_TARGET_MAGNITUDE));
  PetscCall(EPSSetTarget(eps, 0.0));
  PetscCall(EPSSetTolerances(eps, 1e-10, 200));
  PetscCall(setInnerSolver(eps, parity));
  PetscCall(EPSSetFromOptions(eps));
  PetscCall(EPSSolve(eps));

  PetscInt converged = 0;
  PetscCall(EPSGetConverged(eps, &converged));
  Vec xr, xi;
  PetscCall(MatCreateVecs(A, nullptr, &xr));
  PetscCall(MatCreateVecs(A, nullptr, &xi));
  mode->found = false;
  mode->allRe.clear();
  mode->allIm.clear();
  mode->radius = 0;
  PetscInt best = -1;
  for (PetscInt k = 0; k < converged; ++k) {
    PetscScalar kr, ki;
    PetscCall(EPSGetEigenvalue(eps, k, &kr, &ki));
    mode->allRe.push_back(kr);
    mode->allIm.push_back(ki);
    mode->radius = std::max(mode->radius, std::hypot(double(kr), double(ki)));
    bool better = !mode->found || kr > mode->re || (kr == mode->re && ki > mode->im);
    if (better) {
      mode->found = true;
      mode->re = kr;
      mode->im = ki;
      best = k;
    }
  }
  if (mode->found) {
    PetscCall(EPSGetEigenpair(eps, best, nullptr, nullptr, xr, xi));
    PetscCall(copyEigenvector(xr, mode->vre));
    PetscCall(copyEigenvector(xi, mode->vim));
  }
  PetscCall(VecDestroy(&xr));
  PetscCall(VecDestroy(&xi));
  PetscCall(EPSDestroy(&eps));
  PetscCall(MatDestroy(&M));
  PetscCall(MatDestroy(&A));
  mode->seconds = MPI_Wtime() - start;
  PetscFunctionReturn(0);
}

PetscErrorCode computeStability(const Evaluation& at, Stability* out) {
  PetscFunctionBeginUser;
  PetscCall(leadingMode(at, ModeClass::Same, &out->same));
  PetscCall(leadingMode(at, ModeClass::Opposite, &out->opposite));
  out->stable = out->same.found && out->opposite.found && out->same.re < 0 &&
                out->opposite.re < 0;
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
