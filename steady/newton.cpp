#include "steady/newton.h"

#include <petscsnes.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/number_format.h"
#include "platform/text.h"
#include "state/grid.h"
#include "steady/console.h"
#include "steady/continuation.h"
#include "steady/forcing.h"

namespace plume::steady {

namespace {

// A continuation stage ends when its residual is this small against the
// state; the last stage goes on to the level of rounding (atRoundingFloor()).
constexpr double kStageTolerance = 1e-8;
// Steps of one stage before it counts as failed, and the stall rule: three
// steps that together gain less than a factor 2.
constexpr int kStageSteps = 12;
// The factors are renewed after a linear solve that failed, needed more
// iterations than this, or gained too little per iteration (factorsWornOut()).
constexpr int kRefactorAfter = 30;

// The monitor's and convergence test's context: one solve.
struct Stage {
  NewtonRun* run = nullptr;
  bool lastStage = false;
  int stepsBefore = 0;          // Newton steps of this solve's earlier stages
  std::vector<double> history;  // residual norms of this stage
  double linearTarget = 0;      // residual the last linear solve aimed at
  Vec best = nullptr;           // lowest-residual state at the wanted Gr
  double bestNorm = INFINITY;
};

PetscErrorCode stateNorm(SNES snes, double* norm) {
  PetscFunctionBeginUser;
  Vec x;
  PetscReal n = 0;
  PetscCall(SNESGetSolution(snes, &x));
  PetscCall(VecNorm(x, NORM_2, &n));
  *norm = n;
  PetscFunctionReturn(0);
}

PetscErrorCode monitor(SNES snes, PetscInt it, PetscReal fnorm, void* vctx) {
  PetscFunctionBeginUser;
  auto& c = *static_cast<Stage*>(static_cast<SteadyProblem*>(vctx)->newtonSolve);
  if (c.lastStage && std::isfinite(fnorm) && fnorm < c.bestNorm) {
    Vec x;
    PetscCall(SNESGetSolution(snes, &x));
    PetscCall(VecCopy(x, c.best));
    c.bestNorm = fnorm;
  }
  std::string line = ru("Шаг Ньютона ").str();
  appendInteger(line, c.run->stepsBefore + c.stepsBefore + it);
  line += ru(": невязка = ");
  appendNumber(line, fnorm);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ", %.1f ", MPI_Wtime() - c.run->startTime);
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
  PetscFunctionReturn(0);
}

PetscErrorCode convergenceTest(SNES snes, PetscInt it, PetscReal, PetscReal, PetscReal fnorm,
                               SNESConvergedReason* reason, void* vctx) {
  PetscFunctionBeginUser;
  auto& c = *static_cast<Stage*>(static_cast<SteadyProblem*>(vctx)->newtonSolve);
  *reason = SNES_CONVERGED_ITERATING;
  if (!std::isfinite(fnorm)) {
    *reason = SNES_DIVERGED_FNORM_NAN;
    PetscFunctionReturn(0);
  }
  double prev = c.history.empty() ? INFINITY : c.history.back();
  c.history.push_back(fnorm);
  double xnorm = 0;
  PetscCall(stateNorm(snes, &xnorm));
  if (c.lastStage) {
    if (atRoundingFloor(fnorm, prev, c.run->forcing ? c.linearTarget : 0.0, xnorm)) {
      *reason = SNES_CONVERGED_FNORM_ABS;
      PetscFunctionReturn(0);
    }
  } else if (fnorm <= kStageTolerance * xnorm) {
    *reason = SNES_CONVERGED_FNORM_RELATIVE;
    PetscFunctionReturn(0);
  }
  std::size_t n = c.history.size();
  if (n >= 4 && fnorm > 0.5 * c.history[n - 4]) {
    *reason = SNES_DIVERGED_DTOL;  // stalled
  } else if (it >= kStageSteps || c.stepsBefore + it >= c.run->budget) {
    *reason = SNES_DIVERGED_MAX_IT;
  } else if (c.run->forcing) {
    double target = (c.lastStage ? kFloorFactor : kStageTolerance) * xnorm;
    double rtol = linearTolerance(std::isfinite(prev) ? fnorm / prev : 1.0, fnorm, target);
    c.linearTarget = rtol * fnorm;
    KSP ksp;
    PetscCall(SNESGetKSP(snes, &ksp));
    PetscCall(KSPSetTolerances(ksp, rtol, PETSC_DEFAULT, PETSC_DEFAULT, PETSC_DEFAULT));
  }
  PetscFunctionReturn(0);
}

struct StageResult {
  bool converged;
  int steps;
  double residual;
};

PetscErrorCode runStage(SNES snes, Vec x, Stage& c, StageResult* result) {
  PetscFunctionBeginUser;
  c.history.clear();
  PetscCall(SNESSolve(snes, nullptr, x));
  SNESConvergedReason reason;
  PetscCall(SNESGetConvergedReason(snes, &reason));
  PetscInt its = 0;
  PetscCall(SNESGetIterationNumber(snes, &its));
  double fnorm = c.history.empty() ? INFINITY : c.history.back();
  // A line search that can no longer decrease a residual at the level of
  // rounding has found the fixed point.
  if (reason == SNES_DIVERGED_LINE_SEARCH && c.lastStage) {
    double xnorm = 0;
    PetscCall(stateNorm(snes, &xnorm));
    if (fnorm <= kFloorZone * xnorm) reason = SNES_CONVERGED_FNORM_ABS;
  }
  *result = {reason > 0, static_cast<int>(its), fnorm};
  PetscFunctionReturn(0);
}

void printStage(NewtonRun& run, const Continuation& k) {
  std::string line = ru("Этап ").str();
  appendInteger(line, ++run.stagesBefore);
  line += ": Gr = ";
  appendNumber(line, k.gr);
  line += ru(" (шаг ");
  appendNumber(line, k.step);
  line += ")\n";
  say(line);
}

// The state written: the solution; else the lowest-residual state at the
// wanted Gr; else, when continuation never got there, the last accepted one.
Vec stateToWrite(SolveEnd end, Vec solution, Vec best, double bestNorm, Vec accepted) {
  if (end == SolveEnd::Converged) return solution;
  return std::isfinite(bestNorm) ? best : accepted;
}

}  // namespace

PetscErrorCode startNewtonRun(NewtonRun* run) {
  PetscFunctionBeginUser;
  run->startTime = MPI_Wtime();
  bool rtolGiven = false, ewGiven = false;
  PetscCall(optionGiven("-ksp_rtol", &rtolGiven));
  PetscCall(optionGiven("-snes_ksp_ew", &ewGiven));
  run->forcing = !rtolGiven && !ewGiven;
  PetscInt budget = run->budget;
  PetscCall(PetscOptionsGetInt(nullptr, nullptr, "-steady_max_steps", &budget, nullptr));
  run->budget = static_cast<int>(budget);
  PetscFunctionReturn(0);
}

PetscErrorCode solveSteady(SteadyProblem& p, Vec x, double fromGr, const Case& target,
                           NewtonRun& run, SolveOutcome* outcome, Vec before, double beforeGr) {
  PetscFunctionBeginUser;
  Stage c;
  c.run = &run;
  p.newtonSolve = &c;
  if (!p.newtonAttached) {
    PetscCall(SNESMonitorSet(p.snes, monitor, &p, nullptr));
    PetscCall(SNESSetConvergenceTest(p.snes, convergenceTest, &p, nullptr));
    p.newtonAttached = true;
  }
  Vec accepted;
  PetscCall(VecDuplicate(x, &accepted));
  PetscCall(VecDuplicate(x, &c.best));
  PetscCall(VecCopy(x, accepted));
  PetscCall(VecCopy(x, c.best));
  // The solved state before `accepted`, for the secant start of each stage.
  Vec earlier;
  PetscCall(VecDuplicate(x, &earlier));
  bool haveEarlier = before != nullptr;
  double earlierGr = beforeGr;
  if (haveEarlier) PetscCall(VecCopy(before, earlier));
  // The initial state (fromGr 0) is no solution: no secant through it.
  bool acceptedSolved = fromGr != 0;

  // Newton at the wanted Gr first, unless it is too far from the starting
  // state; then, or when that fails, continuation in Gr from the last
  // accepted state.
  Continuation k = startContinuation(fromGr, target.Gr);
  SolveEnd end = SolveEnd::NotConverged;
  double residual = INFINITY;
  if (k.gr != k.target) printStage(run, k);
  for (;;) {
    p.stage = target;
    p.stage.Gr = k.gr;
    c.lastStage = k.gr == k.target;
    if (haveEarlier) {
      const double w = extrapolationWeight(earlierGr, k.accepted, k.gr);
      PetscCall(VecWAXPY(x, -1.0, earlier, accepted));  // accepted - earlier
      PetscCall(VecAYPX(x, w, accepted));               // accepted + w (...)
    }
    StageResult s{};
    PetscCall(runStage(p.snes, x, c, &s));
    c.stepsBefore += s.steps;
    residual = s.residual;
    if (s.converged && c.lastStage) {
      end = SolveEnd::Converged;
      k.accepted = k.gr;
      break;
    }
    if (s.converged) {
      if (acceptedSolved) {
        PetscCall(VecCopy(accepted, earlier));
        earlierGr = k.accepted;
        haveEarlier = true;
      }
      acceptedSolved = true;
      PetscCall(VecCopy(x, accepted));
    }
    bool goOn = c.stepsBefore < run.budget;
    if (goOn) {
      if (!s.converged) PetscCall(VecCopy(accepted, x));
      goOn = nextStage(k, s.converged, s.steps);
    } else if (s.converged) {
      k.accepted = k.gr;
    }
    if (!goOn) {
      end = std::isfinite(residual) ? SolveEnd::NotConverged : SolveEnd::NonFinite;
      break;
    }
    printStage(run, k);
  }
  run.stepsBefore += c.stepsBefore;

  Vec chosen = stateToWrite(end, x, c.best, c.bestNorm, accepted);
  if (end != SolveEnd::Converged && std::isfinite(c.bestNorm)) residual = c.bestNorm;
  if (chosen != x) PetscCall(VecCopy(chosen, x));
  PetscCall(loadWholeState(p, x));
  p.newtonSolve = nullptr;
  PetscCall(VecDestroy(&accepted));
  PetscCall(VecDestroy(&earlier));
  PetscCall(VecDestroy(&c.best));
  *outcome = {end, residual, c.stepsBefore, k.accepted};
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
