#include "steady/branch_run.h"

#include <omp.h>
#include <petscdmda.h>
#include <petscsnes.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "output/checkpoint.h"
#include "output/derived.h"
#include "output/results.h"
#include "output/summary_files.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/state.h"
#include "steady/arclength.h"
#include "steady/console.h"
#include "steady/critical_point.h"
#include "steady/finish.h"
#include "steady/gr_derivative.h"
#include "steady/lu_preconditioner.h"
#include "steady/newton.h"
#include "steady/residual.h"
#include "steady/self_check.h"
#include "steady/solver_setup.h"
#include "steady/stability_report.h"
#include "steady/step_stability.h"

namespace plume::steady {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
const char kFolder[] = "Result/251_301_5_150/";

// The shortest text that reads back to the same double; empty for NaN.
std::string exactText(double v) {
  if (std::isnan(v)) return "";
  char buffer[32];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
  return std::string(buffer, end);
}

struct Run {
  SteadyProblem p;
  State* state = nullptr;  // the program's state, which the problem fills
  Case file;               // the case of the parameter file
  Case c;                  // the branch's case (its Gr: the start's)
  std::FILE* table = nullptr;
  int firstK = 0;        // k and s of the first row written, when going on
  double firstS = 0;     // with a table from an earlier run
  bool skipStart = false;
  double startTime = 0;
  int kept = 0;
  std::vector<std::string> unverified;
  // --stability: the stability of the last step's state (or the start's),
  // and that of the step just accepted, found before its rows are written.
  bool stability = false;
  Stability last, ahead;
  bool haveLast = false, haveAhead = false;
  double aheadGr = 0;
  int critical = 0;  // critical points located
};

PetscErrorCode setStage(Run& r, double gr) {
  PetscFunctionBeginUser;
  r.p.stage = r.c;
  r.p.stage.Gr = gr;
  PetscFunctionReturn(0);
}

PetscErrorCode grDerivative(Run& r, Vec x, double gr, Vec g) {
  PetscFunctionBeginUser;
  DM da = r.p.da;
  Vec local;
  PetscCall(DMGetLocalVector(da, &local));
  PetscCall(DMGlobalToLocalBegin(da, x, INSERT_VALUES, local));
  PetscCall(DMGlobalToLocalEnd(da, x, INSERT_VALUES, local));
  DMDALocalInfo info;
  PetscCall(DMDAGetLocalInfo(da, &info));
  NodeValues **u, **out;
  PetscCall(DMDAVecGetArrayRead(da, local, &u));
  PetscCall(DMDAVecGetArray(da, g, &out));
  Case c = r.c;
  c.Gr = gr;
  loadState(*r.state, u, {info.gys, info.gxs, info.gym, info.gxm});
  const Evaluation at{*r.state, c};
  for (int row = info.ys; row < info.ys + info.ym; ++row)
    for (int col = info.xs; col < info.xs + info.xm; ++col)
      out[row][col] = nodeGrDerivative(at, row + 1, col + 1);
  PetscCall(DMDAVecRestoreArray(da, g, &out));
  PetscCall(DMDAVecRestoreArrayRead(da, local, &u));
  PetscCall(DMRestoreLocalVector(da, &local));
  PetscFunctionReturn(0);
}

double omegaSquares(const Field& omega) {
  double s = 0;
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) s += omega[i][j] * omega[i][j];
  return s;
}

// The checkpoint and summary of a labelled state of case `c` (the run's state
// holds it), after the self-check; a state plume's iteration leaves is noted
// unverified. `modes`, where computed, go into the summary and beside the
// checkpoint.
void keepState(Run& r, const BranchTableRow& row, const Case& c, const Derived& d,
               int newtonSteps, const Stability* modes) {
  SelfCheck check = runSelfCheck(*r.state, c);
  std::string path = branchCheckpointPath(row.k, row.gr);
  writeCheckpointAt(path, *r.state, c,
                    {check.iterations, check.omegaSqSum, omp_get_wtime() - r.startTime, false,
                     std::fabs(check.omegaSqSum - check.previousSum)},
                    r.p.checkpoints);
  std::string summary = path.substr(0, path.size() - 4) + ".json";
  summary.replace(summary.find("checkpoint_"), 11, "summary_");
  StabilityFacts facts{};
  if (modes) facts = stabilityFacts(*modes);
  writeFileAtomically(summary,
                      summaryJson(c, {"newton_steps", newtonSteps, check.passed, check.omegaSqSum,
                                      modes ? &facts : nullptr},
                                  d),
                      FileKind::Text);
  if (modes) writeModesBeside(path, *modes);
  ++r.kept;
  if (!check.passed) r.unverified.push_back(path);
  std::string line = ru("Сохранено состояние ветви: ").str() + path;
  line += check.passed ? ru(" (проверено)\n").str() : ru(" (НЕ проверено самопроверкой)\n").str();
  say(line);
}

// The stability of the row's state, of case `c` (the run's state holds it):
// the step's own, found when it was accepted, or computed now. The start
// becomes the last step's.
PetscErrorCode rowStability(Run& r, const BranchRow& b, const Case& c, Stability* st) {
  PetscFunctionBeginUser;
  if (r.haveAhead && b.label.empty() && b.p == r.aheadGr) {
    *st = r.ahead;
    r.haveAhead = false;
  } else {
    PetscCall(stabilityOfState(r.p.snes, {*r.state, c}, st));
  }
  if (b.k == 0 || b.label.empty()) {
    r.last = *st;
    r.haveLast = true;
  }
  PetscFunctionReturn(0);
}

void fillStability(BranchTableRow& row, const Stability& st) {
  auto value = [](const LeadingMode& m, double v) { return m.found ? v : kNone; };
  row.stable = st.same.found && st.opposite.found ? (st.stable ? 1 : 0) : -1;
  row.lambdaSymRe = value(st.same, st.same.re);
  row.lambdaSymIm = value(st.same, st.same.im);
  row.lambdaAntiRe = value(st.opposite, st.opposite.re);
  row.lambdaAntiIm = value(st.opposite, st.opposite.im);
}

PetscErrorCode writeRow(Run& r, const BranchRow& at, Vec x) {
  PetscFunctionBeginUser;
  Case c = r.c;
  c.Gr = at.p;
  if (at.k == 0 && r.skipStart) {
    // Already in the table; its stability is the one the first step is compared with.
    if (r.stability) {
      Stability st;
      PetscCall(loadWholeState(r.p, x));
      PetscCall(rowStability(r, at, c, &st));
    }
    PetscFunctionReturn(0);
  }
  BranchRow b = at;
  b.k += r.firstK;
  b.s += r.firstS;
  PetscCall(loadWholeState(r.p, x));
  Stability st;
  if (r.stability) PetscCall(rowStability(r, at, c, &st));
  Derived d = computeDerived(r.state->T, r.state->Psi, c);
  BranchTableRow row{b.k,   b.s,   b.p,   d.psiMax.value, d.nu ? *d.nu : kNone, d.flows.source,
                     omegaSquares(r.state->Omega), -1, kNone, kNone, kNone, kNone, b.label};
  if (r.stability) fillStability(row, st);
  std::string text = branchTableLine(row);
  std::fputs(text.c_str(), r.table);
  std::fflush(r.table);
  std::string line = ru("Ветвь: k = ").str();
  appendInteger(line, b.k);
  line += ", Gr = ";
  appendNumber(line, b.p);
  line += ", psi_max = ";
  appendNumber(line, row.psiMax);
  if (!b.label.empty()) line += ", " + b.label + " (Gr = " + exactText(b.p) + ")";
  say(line + "\n");
  if (!b.label.empty() && isFirstProcess())
    keepState(r, row, c, d, b.newtonSteps, r.stability ? &st : nullptr);
  PetscFunctionReturn(0);
}

std::string endText(BranchEnd end) {
  switch (end) {
    case BranchEnd::PassedEnd: return ru("Gr прошло конец ветви").str();
    case BranchEnd::ReturnedBelowStart: return ru("ветвь вернулась ниже начального Gr").str();
    case BranchEnd::StepBudget: return ru("исчерпан бюджет шагов").str();
    case BranchEnd::StepTooShort: return ru("шаг стал слишком коротким").str();
    case BranchEnd::StartFailed: return ru("начальное состояние не уточнено").str();
  }
  return "";
}

// The leading mode of `parity`'s class at Gr = p on the step, into *mode;
// *ok false when the state there was not found.
PetscErrorCode leadingOnStep(Run& r, const StepView& v, ModeClass parity, double p, Vec x,
                             LeadingMode* mode, bool* ok) {
  PetscFunctionBeginUser;
  PetscCall(v.stateAt(p, x, ok));
  if (!*ok) PetscFunctionReturn(0);
  Case c = r.c;
  c.Gr = p;
  PetscCall(loadWholeState(r.p, x));
  PetscCall(leadingModeOfState(r.p.snes, {*r.state, c}, parity, mode));
  *ok = mode->found;
  PetscFunctionReturn(0);
}

// Where the leading real part of `parity`'s class, re0 at the step's start
// and re1 at its end, is zero: secant steps in Gr, each a state on the
// branch and an eigen-solve of the class.
PetscErrorCode locateOnStep(Run& r, const StepView& v, ModeClass parity, double re0, double re1,
                            Crossing* out) {
  PetscFunctionBeginUser;
  Vec x;
  PetscCall(VecDuplicate(v.x1, &x));
  bool failed = false;
  auto leading = [&](double p, double* re, double* im) {
    LeadingMode m;
    bool ok = false;
    *re = 0;  // a failed evaluation ends the search
    *im = 0;
    if (failed || leadingOnStep(r, v, parity, p, x, &m, &ok) != 0 || !ok) {
      failed = true;
      return;
    }
    *re = m.re;
    *im = m.im;
  };
  *out = locateCrossing(leading, v.p0, re0, v.p1, re1);
  if (failed) out->located = false;
  PetscCall(VecDestroy(&x));
  PetscFunctionReturn(0);
}

std::string className(ModeClass parity) {
  return parity == ModeClass::Same ? ru("симметричных").str() : ru("антисимметричных").str();
}

// A step just accepted: the stability of its state, and the critical points
// inside it where a leading eigenvalue crossed zero since the last step.
PetscErrorCode examineStep(Run& r, const StepView& v, std::vector<ExtraRow>* extras) {
  PetscFunctionBeginUser;
  Case c = r.c;
  c.Gr = v.p1;
  PetscCall(loadWholeState(r.p, v.x1));
  PetscCall(stabilityOfState(r.p.snes, {*r.state, c}, &r.ahead));
  r.haveAhead = true;
  r.aheadGr = v.p1;
  if (!r.haveLast) PetscFunctionReturn(0);
  for (ModeClass parity : crossedClasses(r.last, r.ahead)) {
    const bool same = parity == ModeClass::Same;
    const LeadingMode& m0 = same ? r.last.same : r.last.opposite;
    const LeadingMode& m1 = same ? r.ahead.same : r.ahead.opposite;
    if (markedByTurn(parity, m0.im, m1.im, v.turned)) continue;
    std::string line = ru("Ведущее собственное значение ").str() + className(parity) +
                       ru(" возмущений пересекло ноль между Gr = ").str() + exactText(v.p0) +
                       ru(" и Gr = ").str() + exactText(v.p1);
    if (v.turned) {
      say(line + ru(": не уточняется, ветвь поворачивает на этом шаге.\n").str());
      continue;
    }
    Crossing x{};
    PetscCall(locateOnStep(r, v, parity, m0.re, m1.re, &x));
    if (!x.located) {
      say(line + ru(": точка не найдена.\n").str());
      continue;
    }
    CriticalKind kind = crossingKind(parity, x.imaginary);
    extras->push_back({x.p, crossingName(kind)});
    ++r.critical;
    line = ru("Критическая точка: ").str() + crossingName(kind) + ru(" (класс ").str() +
           className(parity) + ru(" возмущений), Gr = ").str() + exactText(x.p);
    if (kind == CriticalKind::Hopf) line += ru(", частота |Im lambda| = ").str() + exactText(x.imaginary);
    line += ru(" (вычислений: ").str() + std::to_string(x.evaluations) + ")\n";
    say(line);
  }
  PetscFunctionReturn(0);
}

PetscErrorCode followFromSolved(Run& r, const BranchRequest& rq, Vec x, BranchOutcome* outcome) {
  PetscFunctionBeginUser;
  KSP ksp;
  PC pc;
  PetscCall(SNESGetKSP(r.p.snes, &ksp));
  PetscCall(KSPGetPC(ksp, &pc));
  bool determinant;
  PetscCall(requestLuDeterminant(pc, &determinant));

  BranchEquations eq;
  eq.ksp = ksp;
  eq.J = r.p.J;
  eq.residual = [&r](Vec v, double gr, Vec f) {
    PetscFunctionBeginUser;
    PetscCall(setStage(r, gr));
    PetscCall(SNESComputeFunction(r.p.snes, v, f));
    PetscFunctionReturn(0);
  };
  eq.jacobian = [&r](Vec v, double gr, Mat J) {
    PetscFunctionBeginUser;
    PetscCall(setStage(r, gr));
    PetscCall(SNESComputeJacobian(r.p.snes, v, J, J));
    PetscFunctionReturn(0);
  };
  eq.parameterDerivative = [&r](Vec v, double gr, Vec g) { return grDerivative(r, v, gr, g); };
  if (determinant) eq.determinantSign = [pc](int* sign) { return luDeterminantSign(pc, sign); };

  BranchSettings set;
  set.from = rq.from;
  set.to = rq.to;
  set.maxSteps = rq.maxSteps;
  set.firstStep = rq.firstStep;
  set.maxStep = rq.maxStep;
  set.keepAt = rq.at;
  if (r.stability)
    set.examineStep = [&r](const StepView& v, std::vector<ExtraRow>* extras) {
      return examineStep(r, v, extras);
    };
  set.onShorterStep = [](double gr, double ds) {
    say(ru("Шаг по ветви от Gr = ").str() + exactText(gr) + ru(" не принят; новая длина шага ").str() +
        exactText(ds) + "\n");
  };
  set.onUnlocated = [](double gr0, double gr1, bool fold) {
    const std::string between = ru(" между Gr = ").str() + exactText(gr0) + ru(" и Gr = ").str() +
                                exactText(gr1);
    say(fold ? ru("Поворот ветви").str() + between + ru(" найден на шаге, но не локализован").str()
             : ru("Точка ветвления").str() + between +
                   ru(" найдена на шаге, но не локализована").str());
    say(ru(": ни одно состояние поиска не сошлось; в branch.csv ее строки нет.\n"));
  };
  PetscCall(followBranch(eq, set, x,
                         [&r](const BranchRow& row, Vec v) { return writeRow(r, row, v); },
                         outcome));
  PetscFunctionReturn(0);
}

// k and s of the last row of an earlier run's table; false without one.
bool lastTableRow(int* k, double* s) {
  std::FILE* f = std::fopen(branchTablePath().c_str(), "r");
  if (f == nullptr) return false;
  char line[1024], last[1024] = "";
  while (std::fgets(line, sizeof line, f)) std::strcpy(last, line);
  std::fclose(f);
  return std::sscanf(last, "%d,%lf", k, s) == 2;
}

// The state at the branch's start in x: read from -branch_start's
// checkpoint (whose Gr becomes FROM), or solved at FROM as a plain run
// solves it. *ok false when neither gives one.
PetscErrorCode startState(Run& r, BranchRequest& rq, Vec x, bool* ok) {
  PetscFunctionBeginUser;
  *ok = true;
  if (!rq.start.empty()) {
    CheckpointRead read = readCheckpoint(rq.start, nullptr, *r.state, r.c, r.p.checkpoints);
    *ok = read.status == CheckpointStatus::Loaded;
    if (!*ok) say(read.message);
    if (!*ok) PetscFunctionReturn(0);
    rq.from = r.c.Gr;
    r.skipStart = lastTableRow(&r.firstK, &r.firstS);
    say(ru("Начало ветви из ").str() + rq.start + ", Gr = " + exactText(rq.from) + "\n");
    PetscCall(storeFields(r.p, x));
    PetscFunctionReturn(0);
  }
  r.c = r.file;
  r.c.Gr = rq.from;
  NewtonRun newton;
  PetscCall(startNewtonRun(&newton));
  PetscCall(storeFields(r.p, x));
  SolveOutcome start{};
  PetscCall(solveSteady(r.p, x, 0.0, r.c, newton, &start));
  *ok = start.end == SolveEnd::Converged;
  if (!*ok) say(ru("Начальное состояние ветви не найдено: метод Ньютона не сошелся.\n"));
  PetscFunctionReturn(0);
}

// The whole run on one problem: the start, then the branch.
PetscErrorCode branchRun(Run& r, BranchRequest& rq, BranchOutcome* outcome, bool* started) {
  PetscFunctionBeginUser;
  PetscCall(createSteadyProblem(&r.p, r.state));
  Vec x;
  PetscCall(DMCreateGlobalVector(r.p.da, &x));
  PetscCall(startState(r, rq, x, started));
  if (*started && isFirstProcess()) {
    r.table = std::fopen(branchTablePath().c_str(), r.skipStart ? "a" : "w");
    if (r.table == nullptr)
      say(ru("Файл ").str() + branchTablePath() + ru(" не создается.\n").str());
    else if (!r.skipStart)
      std::fputs(branchTableHeader().c_str(), r.table);
    *started = r.table != nullptr;
  }
  if (*started) PetscCall(followFromSolved(r, rq, x, outcome));
  PetscCall(VecDestroy(&x));
  PetscCall(destroySteadyProblem(&r.p));
  PetscFunctionReturn(0);
}

}  // namespace

std::vector<std::string> petscStyleArguments(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a == "--branch" && k + 2 < args.size()) {
      out.push_back("-branch");
      out.push_back(args[k + 1] + "," + args[k + 2]);
      k += 2;
    } else if (a == "--at" || a == "--evolve" || a == "--mode" || a == "--perturb" ||
               a == "--stability") {
      out.push_back(a.substr(1));
    } else {
      out.push_back(a);
    }
  }
  return out;
}

PetscErrorCode readBranchRequest(BranchRequest* rq, bool* given) {
  PetscFunctionBeginUser;
  PetscReal range[2];
  PetscInt n = 2;
  PetscBool set = PETSC_FALSE;
  PetscCall(PetscOptionsGetRealArray(nullptr, nullptr, "-branch", range, &n, &set));
  *given = set;
  if (!set) PetscFunctionReturn(0);
  PetscCheck(n == 2, PETSC_COMM_WORLD, PETSC_ERR_ARG_WRONG, "-branch needs FROM,TO");
  rq->from = range[0];
  rq->to = range[1];
  PetscReal at[64];
  PetscInt count = 64;
  PetscCall(PetscOptionsGetRealArray(nullptr, nullptr, "-at", at, &count, &set));
  if (set) rq->at.assign(at, at + count);
  PetscInt steps = rq->maxSteps;
  PetscCall(PetscOptionsGetInt(nullptr, nullptr, "-branch_steps", &steps, nullptr));
  rq->maxSteps = static_cast<int>(steps);
  PetscCall(PetscOptionsGetReal(nullptr, nullptr, "-branch_first_step", &rq->firstStep, nullptr));
  PetscCall(PetscOptionsGetReal(nullptr, nullptr, "-branch_max_step", &rq->maxStep, nullptr));
  char start[PETSC_MAX_PATH_LEN] = "";
  PetscCall(PetscOptionsGetString(nullptr, nullptr, "-branch_start", start, sizeof start, nullptr));
  rq->start = start;
  PetscBool stability = PETSC_FALSE;
  PetscCall(PetscOptionsHasName(nullptr, nullptr, "-stability", &stability));
  rq->stability = stability;
  PetscFunctionReturn(0);
}

std::string branchTablePath() { return std::string(kFolder) + "branch.csv"; }

std::string branchCheckpointPath(int k, double gr) {
  return std::string(kFolder) + "checkpoint_branch_" + std::to_string(k) + "_Gr_" +
         formatNumber(gr) + ".bin";
}

std::string branchTableHeader() {
  return "k,s,gr,psi_max,nu,q_source,sum_omega_sq,stable,lambda_sym_re,lambda_sym_im,"
         "lambda_anti_re,lambda_anti_im,label\n";
}

std::string branchTableLine(const BranchTableRow& r) {
  std::string t = std::to_string(r.k);
  auto column = [&t](const std::string& text) {
    t.push_back(',');
    t.append(text);
  };
  for (double v : {r.s, r.gr, r.psiMax, r.nu, r.qSource, r.sumOmegaSq}) column(exactText(v));
  column(r.stable < 0 ? "" : (r.stable ? "1" : "0"));
  for (double v : {r.lambdaSymRe, r.lambdaSymIm, r.lambdaAntiRe, r.lambdaAntiIm})
    column(exactText(v));
  column(r.label);
  t.push_back('\n');
  return t;
}

int runBranch(const BranchRequest& request, State& state, const Case& c) {
  Run r;
  r.state = &state;
  r.file = c;
  r.startTime = omp_get_wtime();
  r.stability = request.stability;
  BranchRequest rq = request;
  std::string line = ru("Ветвь стационарных решений от Gr = ").str();
  appendNumber(line, rq.from);
  line += ru(" до Gr = ");
  appendNumber(line, rq.to);
  say(line + ", Pr = " + exactText(c.Pr) + "\n");
  BranchOutcome outcome{};
  bool started = false;
  PetscErrorCode ierr = branchRun(r, rq, &outcome, &started);
  if (r.table) std::fclose(r.table);
  if (ierr != 0 || !started) return kNotConverged;
  line = ru("Ветвь пройдена: ").str() + endText(outcome.end);
  line += ru("; шагов: ");
  appendInteger(line, outcome.steps);
  line += ru(", точек поворота: ");
  appendInteger(line, outcome.folds);
  line += ru(", точек ветвления: ");
  appendInteger(line, outcome.branchPoints);
  if (outcome.unlocated > 0) {
    line += ru(", не локализовано: ");
    appendInteger(line, outcome.unlocated);
  }
  if (r.stability) {
    line += ru(", критических точек: ");
    appendInteger(line, r.critical);
  }
  line += ru(", сохранено состояний: ");
  appendInteger(line, r.kept);
  line += ".\n";
  for (const std::string& path : r.unverified)
    line += ru("Не проверено самопроверкой: ").str() + path + "\n";
  say(line);
  return r.unverified.empty() ? kSolved : kUnverified;
}

}  // namespace plume::steady
