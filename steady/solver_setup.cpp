#include "steady/solver_setup.h"

#include <vector>

#include "steady/jacobian.h"
#include "steady/lu_preconditioner.h"
#include "steady/residual.h"

namespace plume::steady {

namespace {

Block ghostedBlock(const DMDALocalInfo& info) { return {info.gys, info.gxs, info.gym, info.gxm}; }
Block ownedBlock(const DMDALocalInfo& info) { return {info.ys, info.xs, info.ym, info.xm}; }

PetscErrorCode formFunction(DMDALocalInfo* info, NodeValues** x, NodeValues** f, void* ctx) {
  PetscFunctionBeginUser;
  const SteadyProblem& p = *static_cast<const SteadyProblem*>(ctx);
  loadState(*p.state, x, ghostedBlock(*info));
  const Evaluation at{*p.state, p.stage};
  for (int r = info->ys; r < info->ys + info->ym; ++r)
    for (int c = info->xs; c < info->xs + info->xm; ++c)
      f[r][c] = nodeResidual(at, r + 1, c + 1, x[r][c]);
  PetscFunctionReturn(0);
}

PetscErrorCode formJacobian(DMDALocalInfo* info, NodeValues** x, Mat, Mat P, void* ctx) {
  PetscFunctionBeginUser;
  const SteadyProblem& p = *static_cast<const SteadyProblem*>(ctx);
  loadState(*p.state, x, ghostedBlock(*info));
  PetscCall(MatZeroEntries(P));
  PetscCall(assembleJacobian({*p.state, p.stage}, P, ownedBlock(*info), ghostedBlock(*info)));
  PetscFunctionReturn(0);
}

PetscErrorCode processCount(int* size) {
  PetscFunctionBeginUser;
  PetscCallMPI(MPI_Comm_size(PETSC_COMM_WORLD, size));
  PetscFunctionReturn(0);
}

PetscErrorCode setDefault(const char* name, const char* value) {
  PetscFunctionBeginUser;
  bool given = false;
  PetscCall(optionGiven(name, &given));
  if (!given) PetscCall(PetscOptionsSetValue(nullptr, name, value));
  PetscFunctionReturn(0);
}

PetscErrorCode setDefaultOptions(int processes) {
  PetscFunctionBeginUser;
  PetscCall(setDefault("-snes_type", "newtonls"));
  PetscCall(setDefault("-snes_linesearch_type", "bt"));
  // Flexible GMRES keeps the preconditioned directions: no application of the
  // factors to form the solution at the end of each linear solve.
  PetscCall(setDefault("-ksp_type", "fgmres"));
  PetscCall(setDefault("-ksp_gmres_restart", "30"));
  PetscCall(setDefault("-ksp_max_it", "60"));
  PetscCall(setDefault("-ksp_pc_side", "right"));
  if (processes > 1) {
    // Across processes: MUMPS in double precision, its analysis on the first
    // process with a Scotch order (Debian's MUMPS has no parallel analysis).
    PetscCall(setDefault("-pc_type", "lu"));
    PetscCall(setDefault("-pc_factor_mat_solver_type", "mumps"));
    PetscCall(setDefault("-mat_mumps_icntl_28", "1"));
    PetscCall(setDefault("-mat_mumps_icntl_7", "3"));
  }
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode optionGiven(const char* name, bool* given) {
  PetscFunctionBeginUser;
  PetscBool set = PETSC_FALSE;
  PetscCall(PetscOptionsHasName(nullptr, nullptr, name, &set));
  *given = set;
  PetscFunctionReturn(0);
}

PetscErrorCode createSteadyProblem(SteadyProblem* p, State* state) {
  PetscFunctionBeginUser;
  p->state = state;
  int processes;
  PetscCall(processCount(&processes));
  bool pcGiven = false;
  PetscCall(optionGiven("-pc_type", &pcGiven));
  PetscCall(setDefaultOptions(processes));

  PetscCall(DMDACreate2d(PETSC_COMM_WORLD, DM_BOUNDARY_NONE, DM_BOUNDARY_NONE, DMDA_STENCIL_BOX,
                         kUnknownCols, kUnknownRows, PETSC_DECIDE, PETSC_DECIDE, 3, 1, nullptr,
                         nullptr, &p->da));
  PetscCall(DMSetFromOptions(p->da));
  PetscCall(DMSetUp(p->da));
  PetscCall(DMDASetFieldName(p->da, 0, "T"));
  PetscCall(DMDASetFieldName(p->da, 1, "Omega"));
  PetscCall(DMDASetFieldName(p->da, 2, "Psi"));

  PetscCall(SNESCreate(PETSC_COMM_WORLD, &p->snes));
  PetscCall(SNESSetDM(p->snes, p->da));
  PetscCall(DMDASNESSetFunctionLocal(
      p->da, INSERT_VALUES,
      reinterpret_cast<PetscErrorCode (*)(DMDALocalInfo*, void*, void*, void*)>(formFunction),
      p));
  PetscCall(DMDASNESSetJacobianLocal(
      p->da, reinterpret_cast<PetscErrorCode (*)(DMDALocalInfo*, void*, Mat, Mat, void*)>(formJacobian),
      p));
  // The factors are kept across Newton steps, continuation stages and solves
  // and renewed only when the linear solves need it.
  PetscCall(SNESSetLagPreconditioner(p->snes, -1));
  PetscCall(SNESSetLagPreconditionerPersists(p->snes, PETSC_TRUE));
  PetscCall(SNESSetMaxLinearSolveFailures(p->snes, 1000000));
  PetscCall(SNESSetTolerances(p->snes, 0, 0, 0, 1000, 1000000));
  PetscCall(SNESSetFromOptions(p->snes));
  if (processes == 1 && !pcGiven) {
    KSP ksp;
    PC pc;
    PetscCall(SNESGetKSP(p->snes, &ksp));
    PetscCall(KSPGetPC(ksp, &pc));
    PetscCall(setLuPreconditioner(pc, kUnknownRows, kUnknownCols));
  }
  PetscCall(createJacobianMatrix({*p->state, p->stage}, p->da, &p->J));
  PetscCall(SNESSetJacobian(p->snes, p->J, p->J, nullptr, nullptr));
  PetscFunctionReturn(0);
}

PetscErrorCode destroySteadyProblem(SteadyProblem* p) {
  PetscFunctionBeginUser;
  PetscCall(SNESDestroy(&p->snes));
  PetscCall(MatDestroy(&p->J));
  PetscCall(DMDestroy(&p->da));
  PetscFunctionReturn(0);
}

PetscErrorCode storeFields(const SteadyProblem& p, Vec x) {
  PetscFunctionBeginUser;
  DMDALocalInfo info;
  PetscCall(DMDAGetLocalInfo(p.da, &info));
  NodeValues** u;
  PetscCall(DMDAVecGetArray(p.da, x, &u));
  storeState(*p.state, u, ownedBlock(info));
  PetscCall(DMDAVecRestoreArray(p.da, x, &u));
  PetscFunctionReturn(0);
}

PetscErrorCode loadWholeState(const SteadyProblem& p, Vec x) {
  PetscFunctionBeginUser;
  Vec natural, all;
  VecScatter toAll;
  PetscCall(DMDACreateNaturalVector(p.da, &natural));
  PetscCall(DMDAGlobalToNaturalBegin(p.da, x, INSERT_VALUES, natural));
  PetscCall(DMDAGlobalToNaturalEnd(p.da, x, INSERT_VALUES, natural));
  PetscCall(VecScatterCreateToAll(natural, &toAll, &all));
  PetscCall(VecScatterBegin(toAll, natural, all, INSERT_VALUES, SCATTER_FORWARD));
  PetscCall(VecScatterEnd(toAll, natural, all, INSERT_VALUES, SCATTER_FORWARD));
  const PetscScalar* a;
  PetscCall(VecGetArrayRead(all, &a));
  std::vector<const NodeValues*> rows(kUnknownRows);
  for (int r = 0; r < kUnknownRows; ++r)
    rows[r] = reinterpret_cast<const NodeValues*>(a) + std::size_t(r) * kUnknownCols;
  loadState(*p.state, rows.data(), kAllUnknowns);
  PetscCall(VecRestoreArrayRead(all, &a));
  PetscCall(VecScatterDestroy(&toAll));
  PetscCall(VecDestroy(&all));
  PetscCall(VecDestroy(&natural));
  completeFields(*p.state);
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
