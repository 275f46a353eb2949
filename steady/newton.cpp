#include "steady/newton.h"

#include <petscdmda.h>
#include <petscsnes.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/grid.h"
#include "steady/console.h"
#include "steady/forcing.h"
#include "steady/jacobian.h"
#include "steady/lu_preconditioner.h"
#include "steady/residual.h"

namespace plume::steady {

namespace {

// A continuation stage ends when its residual is this small against the
// state; the last stage goes on to the level of rounding (atRoundingFloor()).
constexpr double kStageTolerance = 1e-8;
// Steps of one stage before it counts as failed, and the stall rule: three
// steps that together gain less than a factor 2.
constexpr int kStageSteps = 12;
// Newton from the initial state is tried directly up to this |Gr|; beyond it
// continuation starts at kFirstStageGr.
constexpr double kDirectGr = 2e5;
constexpr double kFirstStageGr = 1e5;
// The factors are renewed after a linear solve that failed, needed more
// iterations than this, or gained too little per iteration (factorsWornOut()).
constexpr int kRefactorAfter = 30;

struct Context {
  DM da = nullptr;
  double startTime = 0;
  bool lastStage = false;
  int stepsBefore = 0;            // Newton steps of the stages before this one
  int budget = 100;               // Newton steps allowed in all
  std::vector<double> history;    // residual norms of this stage
  bool stalled = false;
  bool atFloor = false;
  bool forcing = true;            // linear tolerances set here, step by step
  double linearTarget = 0;        // residual the last linear solve aimed at
  Vec best = nullptr;             // lowest-residual state at the wanted Gr
  double bestNorm = INFINITY;
};

// A matrix for the Jacobian on `da` holding exactly the entries
// assembleJacobian() sets, so the factors do not fill in over structural
// zeros of the full box stencil. The entries of a row depend only on its
// node (jacobianRow()), so the rows are counted once and set as the matrix's
// structure.
PetscErrorCode createJacobianMatrix(DM da, Mat* J) {
  ISLocalToGlobalMapping ltog;
  PetscCall(DMGetLocalToGlobalMapping(da, &ltog));
  DMDALocalInfo info;
  PetscCall(DMDAGetLocalInfo(da, &info));
  std::vector<PetscInt> rowStart{0}, cols, row;
  std::vector<JacobianEntry> entries;
  for (int r = info.ys; r < info.ys + info.ym; ++r)
    for (int c = info.xs; c < info.xs + info.xm; ++c)
      for (int field = 0; field < 3; ++field) {
        entries.clear();
        jacobianRow(r + 1, c + 1, field, entries);
        row.clear();
        for (const JacobianEntry& e : entries)
          row.push_back(((e.i - 1 - info.gys) * info.gxm + (e.j - 1 - info.gxs)) * 3 + e.field);
        PetscCall(ISLocalToGlobalMappingApply(ltog, static_cast<PetscInt>(row.size()), row.data(),
                                              row.data()));
        std::sort(row.begin(), row.end());
        cols.insert(cols.end(), row.begin(), std::unique(row.begin(), row.end()));
        rowStart.push_back(static_cast<PetscInt>(cols.size()));
      }
  PetscInt n = info.xm * info.ym * 3, N = info.mx * info.my * 3;
  PetscInt starts[3] = {info.gxs, info.gys, 0}, dims[3] = {info.gxm, info.gym, 1};
  PetscCall(MatCreate(PETSC_COMM_WORLD, J));
  PetscCall(MatSetSizes(*J, n, n, N, N));
  PetscCall(MatSetType(*J, MATAIJ));
  PetscCall(MatSetLocalToGlobalMapping(*J, ltog, ltog));
  PetscCall(MatSetStencil(*J, 2, dims, starts, 3));
  PetscCall(MatSeqAIJSetPreallocationCSR(*J, rowStart.data(), cols.data(), nullptr));
  PetscCall(MatMPIAIJSetPreallocationCSR(*J, rowStart.data(), cols.data(), nullptr));
  PetscCall(MatSetOption(*J, MAT_NEW_NONZERO_LOCATION_ERR, PETSC_TRUE));
  return 0;
}

Block ghostedBlock(const DMDALocalInfo& info) { return {info.gys, info.gxs, info.gym, info.gxm}; }

PetscErrorCode formFunction(DMDALocalInfo* info, void* xv, void* fv, void*) {
  auto x = static_cast<NodeValues**>(xv);
  auto f = static_cast<NodeValues**>(fv);
  loadState(x, ghostedBlock(*info));
  for (int r = info->ys; r < info->ys + info->ym; ++r)
    for (int c = info->xs; c < info->xs + info->xm; ++c)
      f[r][c] = nodeResidual(r + 1, c + 1, x[r][c]);
  PetscCall(PetscLogFlops(0));
  return 0;
}

PetscErrorCode formJacobian(DMDALocalInfo* info, void* xv, Mat, Mat P, void*) {
  auto x = static_cast<NodeValues**>(xv);
  loadState(x, ghostedBlock(*info));
  PetscCall(MatZeroEntries(P));
  PetscCall(assembleJacobian(P, {info->ys, info->xs, info->ym, info->xm}));
  return 0;
}

double stateNorm(SNES snes) {
  Vec x;
  PetscReal n = 0;
  SNESGetSolution(snes, &x);
  VecNorm(x, NORM_2, &n);
  return n;
}

PetscErrorCode monitor(SNES snes, PetscInt it, PetscReal fnorm, void* vctx) {
  auto& c = *static_cast<Context*>(vctx);
  if (c.lastStage && std::isfinite(fnorm) && fnorm < c.bestNorm) {
    Vec x;
    PetscCall(SNESGetSolution(snes, &x));
    PetscCall(VecCopy(x, c.best));
    c.bestNorm = fnorm;
  }
  std::string line = ru("Шаг Ньютона ").str();
  appendInteger(line, c.stepsBefore + it);
  line += ru(": невязка = ");
  appendNumber(line, fnorm);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ", %.1f ", MPI_Wtime() - c.startTime);
  line += seconds;
  line += ru("с");
  if (it > 0) {
    KSP ksp;
    PetscInt linear = 0;
    KSPConvergedReason kspReason;
    PetscCall(SNESGetKSP(snes, &ksp));
    PetscCall(KSPGetIterationNumber(ksp, &linear));
    PetscCall(KSPGetConvergedReason(ksp, &kspReason));
    PetscReal linearResidual = 0;
    PetscCall(KSPGetResidualNorm(ksp, &linearResidual));
    double reduced = c.history.empty() ? 0.0 : linearResidual / c.history.back();
    if (linear > kRefactorAfter || kspReason < 0 || factorsWornOut(linear, reduced))
      PetscCall(SNESSetLagPreconditioner(snes, -2));
    line += ru(" (линейных итераций: ");
    appendInteger(line, linear);
    line += ")";
  }
  line += "\n";
  say(line);
  return 0;
}

PetscErrorCode convergenceTest(SNES snes, PetscInt it, PetscReal, PetscReal, PetscReal fnorm,
                               SNESConvergedReason* reason, void* vctx) {
  auto& c = *static_cast<Context*>(vctx);
  *reason = SNES_CONVERGED_ITERATING;
  if (!std::isfinite(fnorm)) {
    *reason = SNES_DIVERGED_FNORM_NAN;
    return 0;
  }
  double prev = c.history.empty() ? INFINITY : c.history.back();
  c.history.push_back(fnorm);
  double xnorm = stateNorm(snes);
  if (c.lastStage) {
    if (atRoundingFloor(fnorm, prev, c.forcing ? c.linearTarget : 0.0, xnorm)) {
      c.atFloor = true;
      *reason = SNES_CONVERGED_FNORM_ABS;
      return 0;
    }
  } else if (fnorm <= kStageTolerance * xnorm) {
    *reason = SNES_CONVERGED_FNORM_RELATIVE;
    return 0;
  }
  std::size_t n = c.history.size();
  if (n >= 4 && fnorm > 0.5 * c.history[n - 4]) {
    c.stalled = true;
    *reason = SNES_DIVERGED_DTOL;
  } else if (it >= kStageSteps || c.stepsBefore + it >= c.budget) {
    *reason = SNES_DIVERGED_MAX_IT;
  } else if (c.forcing) {
    double target = (c.lastStage ? kFloorFactor : kStageTolerance) * xnorm;
    double rtol = linearTolerance(std::isfinite(prev) ? fnorm / prev : 1.0, fnorm, target);
    c.linearTarget = rtol * fnorm;
    KSP ksp;
    PetscCall(SNESGetKSP(snes, &ksp));
    PetscCall(KSPSetTolerances(ksp, rtol, PETSC_DEFAULT, PETSC_DEFAULT, PETSC_DEFAULT));
  }
  return 0;
}

// Default options; any given on the command line or in PETSC_OPTIONS win.
void setDefault(const char* name, const char* value) {
  PetscBool set = PETSC_FALSE;
  PetscOptionsHasName(nullptr, nullptr, name, &set);
  if (!set) PetscOptionsSetValue(nullptr, name, value);
}

bool optionGiven(const char* name) {
  PetscBool set = PETSC_FALSE;
  PetscOptionsHasName(nullptr, nullptr, name, &set);
  return set;
}

int processCount() {
  int size = 1;
  MPI_Comm_size(PETSC_COMM_WORLD, &size);
  return size;
}

void setDefaultOptions() {
  setDefault("-snes_type", "newtonls");
  setDefault("-snes_linesearch_type", "bt");
  // Flexible GMRES keeps the preconditioned directions: no application of the
  // factors to form the solution at the end of each linear solve.
  setDefault("-ksp_type", "fgmres");
  setDefault("-ksp_gmres_restart", "30");
  setDefault("-ksp_max_it", "60");
  setDefault("-ksp_pc_side", "right");
  if (processCount() > 1) {
    // Across processes: MUMPS in double precision, its analysis on the first
    // process with a Scotch order (Debian's MUMPS has no parallel analysis).
    setDefault("-pc_type", "lu");
    setDefault("-pc_factor_mat_solver_type", "mumps");
    setDefault("-mat_mumps_icntl_28", "1");
    setDefault("-mat_mumps_icntl_7", "3");
  }
}

struct StageResult {
  SNESConvergedReason reason;
  int steps;
  double residual;
};

StageResult runStage(SNES snes, Vec x, Context& c) {
  c.history.clear();
  c.stalled = false;
  c.atFloor = false;
  SNESSolve(snes, nullptr, x);
  SNESConvergedReason reason;
  SNESGetConvergedReason(snes, &reason);
  PetscInt its = 0;
  SNESGetIterationNumber(snes, &its);
  double fnorm = c.history.empty() ? INFINITY : c.history.back();
  // A line search that can no longer decrease a residual at the level of
  // rounding has found the fixed point.
  if (reason == SNES_DIVERGED_LINE_SEARCH && c.lastStage &&
      fnorm <= kFloorZone * stateNorm(snes))
    reason = SNES_CONVERGED_FNORM_ABS;
  return {reason, static_cast<int>(its), fnorm};
}

void printContinuation(double gr, double step) {
  std::string line = ru("Продолжение по Gr: Gr = ").str();
  appendNumber(line, gr);
  line += ru(" (шаг ");
  appendNumber(line, step);
  line += ")\n";
  say(line);
}

// Gathers the whole state `v` on every process and loads it into the fields.
void loadWholeState(DM da, Vec v) {
  Vec natural, all;
  VecScatter toAll;
  DMDACreateNaturalVector(da, &natural);
  DMDAGlobalToNaturalBegin(da, v, INSERT_VALUES, natural);
  DMDAGlobalToNaturalEnd(da, v, INSERT_VALUES, natural);
  VecScatterCreateToAll(natural, &toAll, &all);
  VecScatterBegin(toAll, natural, all, INSERT_VALUES, SCATTER_FORWARD);
  VecScatterEnd(toAll, natural, all, INSERT_VALUES, SCATTER_FORWARD);
  const PetscScalar* a;
  VecGetArrayRead(all, &a);
  std::vector<const NodeValues*> rows(kUnknownRows);
  for (int r = 0; r < kUnknownRows; ++r)
    rows[r] = reinterpret_cast<const NodeValues*>(a) + std::size_t(r) * kUnknownCols;
  loadState(rows.data(), {0, 0, kUnknownRows, kUnknownCols});
  VecRestoreArrayRead(all, &a);
  VecScatterDestroy(&toAll);
  VecDestroy(&all);
  VecDestroy(&natural);
}

}  // namespace

SolveOutcome solveSteady() {
  const double target = Gr;
  Context c;
  c.startTime = MPI_Wtime();
  c.forcing = !optionGiven("-ksp_rtol") && !optionGiven("-snes_ksp_ew");
  setDefaultOptions();
  PetscInt budget = c.budget;
  PetscOptionsGetInt(nullptr, nullptr, "-steady_max_steps", &budget, nullptr);
  c.budget = static_cast<int>(budget);

  DM da;
  DMDACreate2d(PETSC_COMM_WORLD, DM_BOUNDARY_NONE, DM_BOUNDARY_NONE, DMDA_STENCIL_BOX,
               kUnknownCols, kUnknownRows, PETSC_DECIDE, PETSC_DECIDE, 3, 1, nullptr, nullptr,
               &da);
  DMSetFromOptions(da);
  DMSetUp(da);
  DMDASetFieldName(da, 0, "T");
  DMDASetFieldName(da, 1, "Omega");
  DMDASetFieldName(da, 2, "Psi");
  c.da = da;

  SNES snes;
  SNESCreate(PETSC_COMM_WORLD, &snes);
  SNESSetDM(snes, da);
  DMDASNESSetFunctionLocal(da, INSERT_VALUES,
                           reinterpret_cast<PetscErrorCode (*)(DMDALocalInfo*, void*, void*, void*)>(
                               formFunction),
                           nullptr);
  DMDASNESSetJacobianLocal(
      da,
      reinterpret_cast<PetscErrorCode (*)(DMDALocalInfo*, void*, Mat, Mat, void*)>(formJacobian),
      nullptr);
  SNESMonitorSet(snes, monitor, &c, nullptr);
  SNESSetConvergenceTest(snes, convergenceTest, &c, nullptr);
  // The factors are kept across Newton steps and continuation stages and
  // renewed only when the linear solves need it.
  SNESSetLagPreconditioner(snes, -1);
  SNESSetLagPreconditionerPersists(snes, PETSC_TRUE);
  SNESSetMaxLinearSolveFailures(snes, 1000000);
  SNESSetTolerances(snes, 0, 0, 0, 1000, 1000000);
  SNESSetFromOptions(snes);
  if (processCount() == 1 && !optionGiven("-pc_type")) {
    KSP ksp;
    PC pc;
    SNESGetKSP(snes, &ksp);
    KSPGetPC(ksp, &pc);
    setLuPreconditioner(pc, kUnknownRows, kUnknownCols);
  }

  Mat J;
  createJacobianMatrix(da, &J);
  SNESSetJacobian(snes, J, J, nullptr, nullptr);

  Vec x, accepted;
  DMCreateGlobalVector(da, &x);
  VecDuplicate(x, &accepted);
  VecDuplicate(x, &c.best);
  {
    DMDALocalInfo info;
    DMDAGetLocalInfo(da, &info);
    NodeValues** u;
    DMDAVecGetArray(da, x, &u);
    storeState(u, {info.ys, info.xs, info.ym, info.xm});
    DMDAVecRestoreArray(da, x, &u);
  }
  VecCopy(x, accepted);
  VecCopy(x, c.best);

  // Newton at the wanted Gr first, unless |Gr| is beyond what Newton from the
  // initial state reaches; then, or when that fails, continuation in Gr from
  // the last accepted state (at first the initial state, the solution for
  // Gr = 0), with steps that grow after quick stages and halve after failed
  // ones.
  double acceptedGr = 0;
  double gr = std::fabs(target) <= kDirectGr ? target : std::copysign(kFirstStageGr, target);
  double step = gr;
  SolveEnd end = SolveEnd::NotConverged;
  double residual = INFINITY;
  if (gr != target) printContinuation(gr, step);
  for (;;) {
    Gr = gr;
    c.lastStage = gr == target;
    StageResult s = runStage(snes, x, c);
    c.stepsBefore += s.steps;
    residual = s.residual;
    bool converged = s.reason > 0;
    if (converged && c.lastStage) {
      end = SolveEnd::Converged;
      VecCopy(x, c.best);
      c.bestNorm = residual;
      break;
    }
    if (converged) {
      VecCopy(x, accepted);
      acceptedGr = gr;
    }
    if (c.stepsBefore >= c.budget) {
      end = std::isfinite(residual) ? SolveEnd::NotConverged : SolveEnd::NonFinite;
      break;
    }
    if (converged) {
      // Quick convergence: a longer step next time.
      if (s.steps <= 4) step *= 2;
    } else {
      VecCopy(accepted, x);
      step /= 2;
      // Halved below a thousandth of the wanted Gr: continuation gives up.
      // (Beyond |Gr| = 10^8 the first steps are that short; they only grow.)
      if (std::fabs(step) < std::fabs(target) * 1e-3) {
        end = std::isfinite(residual) ? SolveEnd::NotConverged : SolveEnd::NonFinite;
        break;
      }
    }
    gr = acceptedGr + step;
    if ((step > 0) ? gr >= target : gr <= target) {
      gr = target;
      step = target - acceptedGr;
    }
    printContinuation(gr, step);
  }
  Gr = target;

  // Every process takes the chosen state into its fields, completed for the
  // designed iteration: the solution, or the lowest-residual state at the
  // wanted Gr, or, when continuation never got there, the last accepted one.
  Vec chosen = end == SolveEnd::Converged ? x : (std::isfinite(c.bestNorm) ? c.best : accepted);
  if (end != SolveEnd::Converged && std::isfinite(c.bestNorm)) residual = c.bestNorm;
  loadWholeState(da, chosen);
  completeFields();

  VecDestroy(&x);
  VecDestroy(&accepted);
  VecDestroy(&c.best);
  SNESDestroy(&snes);
  MatDestroy(&J);
  DMDestroy(&da);
  return {end, residual, c.stepsBefore};
}

}  // namespace plume::steady
