#include "steady/time_integration.h"

#include <cmath>

namespace plume::steady {

namespace {

// The shift the factors of shift M - A were made for is kept within this
// factor of the current one (BDF2's shift is 1.5/dt at a steady step size and
// 1/dt at the first step), and a step needing more linear iterations than this
// renews them.
constexpr double kShiftDrift = 1.25;
constexpr PetscInt kRenewAfterIterations = 20;

struct Context {
  const TimeForm &form;
  const std::function<PetscErrorCode(double, Vec)> &onStep;
  Vec f = nullptr;
  double factoredShift = 0; // 0: no factors yet
  TimeOutcome *outcome;
};

// F(t, v, v') = M v' - f(v).
PetscErrorCode residual(TS, PetscReal, Vec v, Vec vdot, Vec out, void *ctx) {
  PetscFunctionBeginUser;
  auto *c = static_cast<Context *>(ctx);
  PetscCall(c->form.rhs(v, c->f));
  PetscCall(VecPointwiseMult(out, c->form.mass, vdot));
  PetscCall(VecAXPY(out, -1.0, c->f));
  PetscFunctionReturn(0);
}

// dF/dv + shift dF/dv' = shift M - A. The factors are renewed here, where the
// shift is known, when it has drifted from the one they were made for.
PetscErrorCode jacobian(TS ts, PetscReal, Vec, Vec, PetscReal shift, Mat J, Mat,
                        void *ctx) {
  PetscFunctionBeginUser;
  auto *c = static_cast<Context *>(ctx);
  PetscCall(MatCopy(c->form.A, J, SAME_NONZERO_PATTERN));
  PetscCall(MatScale(J, -1.0));
  Vec d;
  PetscCall(VecDuplicate(c->form.mass, &d));
  PetscCall(VecCopy(c->form.mass, d));
  PetscCall(VecScale(d, shift));
  PetscCall(MatDiagonalSet(J, d, ADD_VALUES));
  PetscCall(VecDestroy(&d));
  const double f = c->factoredShift;
  if (f == 0 || shift > kShiftDrift * f || shift * kShiftDrift < f) {
    SNES snes;
    PetscCall(TSGetSNES(ts, &snes));
    PetscCall(SNESSetLagPreconditioner(snes, -2));
    c->factoredShift = shift;
    ++c->outcome->factorisations;
  }
  PetscFunctionReturn(0);
}

PetscErrorCode afterStep(TS ts) {
  PetscFunctionBeginUser;
  Context *c;
  PetscCall(TSGetApplicationContext(ts, &c));
  SNES snes;
  PetscCall(TSGetSNES(ts, &snes));
  PetscInt its;
  PetscCall(SNESGetLinearSolveIterations(snes, &its));
  if (its > kRenewAfterIterations)
    c->factoredShift = 0; // renewed at the next Jacobian
  PetscFunctionReturn(0);
}

PetscErrorCode monitor(TS, PetscInt, PetscReal t, Vec v, void *ctx) {
  PetscFunctionBeginUser;
  auto *c = static_cast<Context *>(ctx);
  PetscCall(c->onStep(t, v));
  PetscFunctionReturn(0);
}

} // namespace

PetscErrorCode
integrate(const TimeForm &form, Vec v, double until,
          const std::function<PetscErrorCode(double t, Vec v)> &onStep,
          TimeOutcome *outcome) {
  PetscFunctionBeginUser;
  *outcome = TimeOutcome{};
  Context c{form, onStep, nullptr, 0, outcome};
  PetscCall(VecDuplicate(v, &c.f));
  Mat J;
  PetscCall(MatDuplicate(form.A, MAT_COPY_VALUES, &J));
  TS ts;
  PetscCall(TSCreate(PetscObjectComm(reinterpret_cast<PetscObject>(v)), &ts));
  PetscCall(TSSetApplicationContext(ts, &c));
  PetscCall(TSSetType(ts, TSBDF));
  PetscCall(TSBDFSetOrder(ts, 2));
  PetscCall(TSSetIFunction(ts, nullptr, residual, &c));
  PetscCall(TSSetIJacobian(ts, J, J, jacobian, &c));
  PetscCall(TSSetMaxTime(ts, until));
  PetscCall(TSSetMaxSteps(ts, 100000));
  PetscCall(TSSetExactFinalTime(ts, TS_EXACTFINALTIME_MATCHSTEP));
  PetscCall(TSSetTimeStep(ts, form.firstStep));
  PetscCall(TSSetTolerances(ts, form.atol, nullptr, form.rtol, nullptr));
  TSAdapt adapt;
  PetscCall(TSGetAdapt(ts, &adapt));
  PetscCall(TSAdaptSetType(adapt, TSADAPTBASIC));
  PetscCall(TSSetMaxStepRejections(ts, -1));
  PetscCall(TSSetMaxSNESFailures(ts, -1));
  PetscCall(TSSetPostStep(ts, afterStep));
  PetscCall(TSMonitorSet(ts, monitor, &c, nullptr));
  SNES snes;
  KSP ksp;
  PC pc;
  PetscCall(TSGetSNES(ts, &snes));
  PetscCall(SNESSetLagPreconditioner(snes, -1));
  PetscCall(SNESSetLagPreconditionerPersists(snes, PETSC_TRUE));
  PetscCall(SNESSetTolerances(snes, form.newtonFloor, 1e-8, PETSC_DEFAULT, 20,
                              PETSC_DEFAULT));
  PetscCall(SNESGetKSP(snes, &ksp));
  if (form.linear) {
    // One linear solve per step, judged on its true residual (flexible GMRES
    // preconditions on the right): left-preconditioned GMRES with single
    // precision factors stops with the true residual still near 1e-5.
    PetscCall(SNESSetType(snes, SNESKSPONLY));
    PetscCall(KSPSetType(ksp, KSPFGMRES));
  } else {
    PetscCall(KSPSetType(ksp, KSPGMRES));
  }
  PetscCall(KSPSetTolerances(ksp, 1e-9, PETSC_DEFAULT, PETSC_DEFAULT, 100));
  PetscCall(KSPGetPC(ksp, &pc));
  if (form.preconditioner)
    PetscCall(form.preconditioner(pc));
  else
    PetscCall(PCSetType(pc, PCLU));
  PetscCall(TSSetFromOptions(ts));
  PetscCall(TSSolve(ts, v));
  PetscInt steps, rejected;
  PetscCall(TSGetStepNumber(ts, &steps));
  PetscCall(TSGetStepRejections(ts, &rejected));
  PetscReal t;
  PetscCall(TSGetTime(ts, &t));
  outcome->steps = static_cast<int>(steps);
  outcome->rejected = static_cast<int>(rejected);
  outcome->reached = t;
  PetscCall(TSDestroy(&ts));
  PetscCall(MatDestroy(&J));
  PetscCall(VecDestroy(&c.f));
  PetscFunctionReturn(0);
}

} // namespace plume::steady
