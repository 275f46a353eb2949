#include "steady/arclength.h"

#include <algorithm>
#include <cmath>

#include "steady/forcing.h"

namespace plume::steady {

namespace {

// Linear solves needing more iterations than this renew the factors.
constexpr int kRefactorAfter = 30;
// A step whose tangent turns by more than this (cosine, in the step's own
// measure) is too long to tell what happened along it.
constexpr double kTangentCosine = 0.8;
// Fold and branch point searches stop after this many trial states.
constexpr int kLocateTrials = 40;

// Weights of the state and the parameter in lengths along the branch.
struct Metric {  // set by metricAt()
  double wx, wp;
};

// The border row of a corrector: c_x . (x - x0) + c_p (p - p0) = ds, with
// c_x = 0 (no vector) fixing p = p0 + ds / c_p.
struct Border {
  Vec cx = nullptr;
  double cp = 1;
  Vec x0 = nullptr;
  double p0 = 0, ds = 0;
};

// A state on the branch with its unit tangent (tx, tp), the sign of det J
// there, and the raw tangent solve J b = -dF/dp (|b|^2, orientation) so that
// the tangent can be measured with another point's metric.
struct Point {
  Vec x = nullptr, tx = nullptr;
  double p = 0, tp = 0, s = 0;
  double bNorm2 = 0, orientation = 1;
  int det = 0;
};

struct Work {
  const BranchEquations& eq;
  const BranchSettings& set;
  Vec f = nullptr, g = nullptr, a = nullptr, b = nullptr, d = nullptr;
  bool refactor = true;
  int newtonSteps = 0;
};

PetscErrorCode metricAt(Vec x, double p, Metric* m) {
  PetscReal n;
  PetscFunctionBeginUser;
  PetscCall(VecNorm(x, NORM_2, &n));
  m->wx = 1 / std::max(n * n, 1e-300);
  m->wp = 1 / std::max(p * p, 1.0);
  PetscFunctionReturn(0);
}

// Solves J y = rhs with the factors held, renewing them when the solve fails
// or shows them worn out, from y itself with `guess`. Sets *ok.
PetscErrorCode linearSolve(Work& w, Vec rhs, Vec y, double rtol, bool guess, bool* ok) {
  PetscFunctionBeginUser;
  *ok = false;
  PetscCall(KSPSetInitialGuessNonzero(w.eq.ksp, guess ? PETSC_TRUE : PETSC_FALSE));
  for (int attempt = 0; attempt < 2 && !*ok; ++attempt) {
    PetscCall(KSPSetReusePreconditioner(w.eq.ksp, w.refactor ? PETSC_FALSE : PETSC_TRUE));
    // No divergence test: a guess far off a tiny right-hand side is no failure.
    PetscCall(KSPSetTolerances(w.eq.ksp, rtol, 1e-300, 1e300, PETSC_DEFAULT));
    PetscCall(KSPSolve(w.eq.ksp, rhs, y));
    bool fresh = w.refactor;
    w.refactor = false;
    KSPConvergedReason reason;
    PetscInt its;
    PetscReal rnorm, bnorm;
    PetscCall(KSPGetConvergedReason(w.eq.ksp, &reason));
    PetscCall(KSPGetIterationNumber(w.eq.ksp, &its));
    PetscCall(KSPGetResidualNorm(w.eq.ksp, &rnorm));
    PetscCall(VecNorm(rhs, NORM_2, &bnorm));
    *ok = reason > 0;
    if (reason < 0 || its > kRefactorAfter ||
        factorsWornOut(static_cast<int>(its), bnorm > 0 ? rnorm / bnorm : 0.0))
      w.refactor = true;
    if (fresh) break;  // fresh factors that fail will not do better
  }
  PetscFunctionReturn(0);
}

PetscErrorCode setJacobian(Work& w, Vec x, double p) {
  PetscFunctionBeginUser;
  PetscCall(w.eq.jacobian(x, p, w.eq.J));
  PetscCall(KSPSetOperators(w.eq.ksp, w.eq.J, w.eq.J));
  PetscFunctionReturn(0);
}

PetscErrorCode borderValue(Work& w, const Border& c, Vec x, double p, double* value) {
  PetscFunctionBeginUser;
  PetscScalar dot = 0;
  if (c.cx) {
    PetscCall(VecWAXPY(w.d, -1.0, c.x0, x));
    PetscCall(VecDot(c.cx, w.d, &dot));
  }
  *value = (dot + c.cp * (p - c.p0)) - c.ds;
  PetscFunctionReturn(0);
}

// Bordered Newton from (x, *p) until |F| <= tolerance |x| (or, with toFloor,
// until Newton reaches the level of rounding) with the border held. w.b
// holds a guess of J^-1 dF/dp's negative. *steps counts the Newton steps
// until |F| <= tolerance |x|, also when the corrector goes on to rounding.
PetscErrorCode correct(Work& w, Vec x, double* p, const Border& c, bool toFloor, bool* ok,
                       int* steps) {
  PetscFunctionBeginUser;
  *ok = false;
  std::vector<double> history;
  double aimed = 0;
  const double borderScale = std::fabs(c.ds) + std::fabs(c.cp * c.p0) + 1e-300;
  bool tolerable = false;
  for (int it = 0;; ++it) {
    if (!tolerable) *steps = it;
    PetscReal fn, xn;
    PetscCall(w.eq.residual(x, *p, w.f));
    PetscCall(VecNorm(w.f, NORM_2, &fn));
    PetscCall(VecNorm(x, NORM_2, &xn));
    if (!std::isfinite(fn)) break;
    double n = 0;
    PetscCall(borderValue(w, c, x, *p, &n));
    double prev = history.empty() ? INFINITY : history.back();
    history.push_back(fn);
    bool bordered = std::fabs(n) <= 1e-12 * borderScale;
    tolerable = tolerable || (bordered && fn <= w.set.tolerance * xn);
    if (bordered && (toFloor ? atRoundingFloor(fn, prev, aimed, xn)
                             : fn <= w.set.tolerance * xn)) {
      *ok = true;
      break;
    }
    std::size_t h = history.size();
    if (it >= (toFloor ? 2 * w.set.correctorSteps : w.set.correctorSteps)) break;
    if (h >= 4 && fn > 0.5 * history[h - 4]) break;
    double target = (toFloor ? kFloorFactor : w.set.tolerance) * xn;
    double rtol = fn > 0 ? std::clamp(0.1 * target / fn, 1e-12, 1e-3) : 1e-3;
    aimed = rtol * fn;
    PetscCall(setJacobian(w, x, *p));
    bool solved, solvedB;
    PetscCall(VecScale(w.f, -1.0));
    PetscCall(linearSolve(w, w.f, w.a, rtol, false, &solved));
    PetscCall(w.eq.parameterDerivative(x, *p, w.g));
    PetscCall(VecScale(w.g, -1.0));
    // b changes little from step to step: each solve starts from the last.
    PetscCall(linearSolve(w, w.g, w.b, std::min(rtol, 1e-6), true, &solvedB));
    if (!solved || !solvedB) break;
    PetscScalar ca = 0, cb = 0;
    if (c.cx) {
      PetscCall(VecDot(c.cx, w.a, &ca));
      PetscCall(VecDot(c.cx, w.b, &cb));
    }
    double dp = (-n - ca) / (cb + c.cp);
    PetscCall(VecAXPBYPCZ(x, 1.0, dp, 1.0, w.a, w.b));
    *p += dp;
    ++w.newtonSteps;
  }
  PetscFunctionReturn(0);
}

// The tangent at `pt` (pt.x, pt.p set): J b = -dF/dp at fresh factors (and
// det J with them), oriented along (refX, refP) in pt's metric, or towards
// increasing p times `direction` without a reference.
PetscErrorCode tangent(Work& w, Point& pt, Vec refX, double refP, double direction, bool* ok) {
  PetscFunctionBeginUser;
  PetscCall(setJacobian(w, pt.x, pt.p));
  if (w.eq.determinantSign) w.refactor = true;
  PetscCall(w.eq.parameterDerivative(pt.x, pt.p, w.g));
  PetscCall(VecScale(w.g, -1.0));
  PetscCall(VecCopy(w.b, pt.tx));
  PetscCall(linearSolve(w, w.g, pt.tx, 1e-8, true, ok));
  pt.det = 0;
  if (w.eq.determinantSign) PetscCall(w.eq.determinantSign(&pt.det));
  if (!*ok) PetscFunctionReturn(0);
  Metric m{};
  PetscCall(metricAt(pt.x, pt.p, &m));
  PetscReal bn;
  PetscCall(VecNorm(pt.tx, NORM_2, &bn));
  pt.bNorm2 = bn * bn;
  double norm = std::sqrt(m.wx * pt.bNorm2 + m.wp);
  double along = direction;
  if (refX) {
    PetscScalar dot;
    PetscCall(VecDot(refX, pt.tx, &dot));
    along = m.wx * dot + m.wp * refP;
  }
  pt.orientation = along < 0 ? -1.0 : 1.0;
  PetscCall(VecScale(pt.tx, pt.orientation / norm));
  pt.tp = pt.orientation / norm;
  PetscFunctionReturn(0);
}

// The tangent's p component at `pt` measured with metric m.
double tangentP(const Point& pt, const Metric& m) {
  return pt.orientation / std::sqrt(m.wx * pt.bNorm2 + m.wp);
}

// From `from`, the corrected state at arclength ds along its tangent, with
// its tangent, into `to`.
PetscErrorCode stepFrom(Work& w, const Point& from, double ds, bool toFloor, Point& to, bool* ok,
                        int* steps) {
  PetscFunctionBeginUser;
  Metric m{};
  PetscCall(metricAt(from.x, from.p, &m));
  Vec cx;
  PetscCall(VecDuplicate(from.x, &cx));
  PetscCall(VecAXPBY(cx, m.wx, 0.0, from.tx));
  Border c{cx, m.wp * from.tp, from.x, from.p, ds};
  PetscCall(VecWAXPY(to.x, ds, from.tx, from.x));
  to.p = from.p + ds * from.tp;
  PetscCall(VecAXPBY(w.b, from.tp != 0 ? 1 / from.tp : 0.0, 0.0, from.tx));
  PetscCall(correct(w, to.x, &to.p, c, toFloor, ok, steps));
  PetscCall(VecDestroy(&cx));
  if (*ok) PetscCall(tangent(w, to, from.tx, from.tp, 1.0, ok));
  to.s = from.s + ds;
  PetscFunctionReturn(0);
}

PetscErrorCode createPoint(Vec like, Point& pt) {
  PetscFunctionBeginUser;
  PetscCall(VecDuplicate(like, &pt.x));
  PetscCall(VecDuplicate(like, &pt.tx));
  PetscFunctionReturn(0);
}

PetscErrorCode destroyPoint(Point& pt) {
  PetscFunctionBeginUser;
  PetscCall(VecDestroy(&pt.x));
  PetscCall(VecDestroy(&pt.tx));
  PetscFunctionReturn(0);
}

PetscErrorCode copyPoint(const Point& from, Point& to) {
  PetscFunctionBeginUser;
  Vec x = to.x, tx = to.tx;
  PetscCall(VecCopy(from.x, x));
  PetscCall(VecCopy(from.tx, tx));
  to = from;
  to.x = x;
  to.tx = tx;
  PetscFunctionReturn(0);
}

// The fold between p0 (at arclength 0 from it) and the step of length ds
// whose tangent's p component changed sign: regula falsi (Illinois) on the
// tangent's p component against the arclength, until p settles to a tenth of
// the wanted accuracy. Each trial state is solved to the level of rounding:
// near a sharp fold a state solved only to the steps' tolerance is off in p
// by far more than the accuracy wanted (1e-4 relative at Gr = 2e8), and so is
// the zero of its tangent's p component. `out` receives the last state.
PetscErrorCode locateFold(Work& w, const Point& p0, const Point& p1, Point& out, bool* ok) {
  PetscFunctionBeginUser;
  Metric m{};
  PetscCall(metricAt(p0.x, p0.p, &m));
  double sa = 0, fa = tangentP(p0, m), sb = p1.s - p0.s, fb = tangentP(p1, m);
  double lastP = p1.p;
  int side = 0, steps;
  *ok = false;
  for (int trial = 0; trial < kLocateTrials; ++trial) {
    double s = (sb * fa - sa * fb) / (fa - fb);
    PetscCall(stepFrom(w, p0, s, true, out, ok, &steps));
    // Near a sharp turn the corrector may fail where the secant points; the
    // middle of the bracket is tried before giving up.
    if (!*ok && s != 0.5 * (sa + sb)) {
      s = 0.5 * (sa + sb);
      PetscCall(stepFrom(w, p0, s, true, out, ok, &steps));
    }
    if (!*ok) break;
    double fs = tangentP(out, m);
    bool settled = std::fabs(out.p - lastP) <= 0.1 * w.set.locate * std::fabs(out.p);
    lastP = out.p;
    if ((fs < 0) == (fa < 0)) {
      sa = s, fa = fs;
      if (side == -1) fb *= 0.5;
      side = -1;
    } else {
      sb = s, fb = fs;
      if (side == 1) fa *= 0.5;
      side = 1;
    }
    if (settled && trial > 0) break;
  }
  PetscFunctionReturn(0);
}

// The branch point between p0 and p1, where det J changed sign and p did not
// turn: bisection in arclength until p is known to the wanted accuracy.
PetscErrorCode locateBranchPoint(Work& w, const Point& p0, const Point& p1, Point& out, bool* ok) {
  PetscFunctionBeginUser;
  double sa = 0, sb = p1.s - p0.s, pa = p0.p, pb = p1.p;
  int steps;
  *ok = false;
  for (int trial = 0; trial < kLocateTrials; ++trial) {
    double s = 0.5 * (sa + sb);
    PetscCall(stepFrom(w, p0, s, false, out, ok, &steps));
    if (!*ok || out.det == 0) {
      *ok = false;
      break;
    }
    if (out.det == p0.det) sa = s, pa = out.p;
    else sb = s, pb = out.p;
    if (std::fabs(pb - pa) <= w.set.locate * std::fabs(out.p)) break;
  }
  if (*ok) PetscCall(stepFrom(w, p0, 0.5 * (sa + sb), true, out, ok, &steps));
  PetscFunctionReturn(0);
}

// The state at p = value, between p0 and p1, by Newton at fixed p from the
// nearer of the two, solved to the level of rounding.
PetscErrorCode solveAt(Work& w, const Point& p0, const Point& p1, double value, Point& out,
                       bool* ok) {
  PetscFunctionBeginUser;
  const Point& near = std::fabs(p0.p - value) <= std::fabs(p1.p - value) ? p0 : p1;
  // The predictor moves along the tangent to p = value.
  PetscCall(VecWAXPY(out.x, (value - near.p) / near.tp, near.tx, near.x));
  out.p = value;
  Border c{nullptr, 1.0, nullptr, value, 0.0};
  PetscCall(VecAXPBY(w.b, near.tp != 0 ? 1 / near.tp : 0.0, 0.0, near.tx));
  int steps;
  PetscCall(correct(w, out.x, &out.p, c, true, ok, &steps));
  Metric m{};
  PetscCall(metricAt(p0.x, p0.p, &m));
  PetscCall(VecWAXPY(w.d, -1.0, p0.x, out.x));
  PetscReal dx;
  PetscCall(VecNorm(w.d, NORM_2, &dx));
  out.s = p0.s + std::sqrt(m.wx * dx * dx + m.wp * (value - p0.p) * (value - p0.p));
  PetscFunctionReturn(0);
}

struct Emitter {
  const std::function<PetscErrorCode(const BranchRow&, Vec)>& onRow;
  const Work& w;
  int k = 0;
  PetscErrorCode emit(const Point& pt, const char* label, bool polished) {
    PetscFunctionBeginUser;
    BranchRow row{k++, pt.s, pt.p, label, polished, w.newtonSteps};
    PetscCall(onRow(row, pt.x));
    PetscFunctionReturn(0);
  }
};

// States wanted between two accepted ones, in branch order: a located fold or
// branch point, and the --at values p passes.
PetscErrorCode emitBetween(Work& w, Emitter& e, const Point& p0, const Point& p1, bool fold,
                           bool branchPoint, const std::vector<ExtraRow>& extras,
                           BranchOutcome* outcome) {
  PetscFunctionBeginUser;
  Point special;
  PetscCall(createPoint(p0.x, special));
  bool haveSpecial = false;
  if (fold || branchPoint) {
    PetscCall(fold ? locateFold(w, p0, p1, special, &haveSpecial)
                   : locateBranchPoint(w, p0, p1, special, &haveSpecial));
    if (haveSpecial) {
      ++(fold ? outcome->folds : outcome->branchPoints);
    } else {
      ++outcome->unlocated;
      if (w.set.onUnlocated) w.set.onUnlocated(p0.p, p1.p, fold);
    }
  }
  std::vector<ExtraRow> values;
  for (double v : w.set.keepAt)
    if ((p0.p - v) * (p1.p - v) < 0) values.push_back({v, "at"});
  for (const ExtraRow& x : extras)
    if ((p0.p - x.p) * (p1.p - x.p) < 0) values.push_back(x);
  std::stable_sort(values.begin(), values.end(),
                   [up = p1.p >= p0.p](const ExtraRow& a, const ExtraRow& b) {
                     return up ? a.p < b.p : a.p > b.p;
                   });
  Point at;
  PetscCall(createPoint(p0.x, at));
  for (const ExtraRow& v : values) {
    bool ok;
    PetscCall(solveAt(w, p0, p1, v.p, at, &ok));
    if (!ok) continue;
    if (haveSpecial && special.s < at.s) {
      PetscCall(e.emit(special, fold ? "fold" : "branch", true));
      haveSpecial = false;
    }
    PetscCall(e.emit(at, v.label.c_str(), true));
  }
  if (haveSpecial) PetscCall(e.emit(special, fold ? "fold" : "branch", true));
  PetscCall(destroyPoint(at));
  PetscCall(destroyPoint(special));
  PetscFunctionReturn(0);
}

// Shows the accepted step cur -> next to the caller's examineStep.
PetscErrorCode examine(Work& w, const Point& cur, const Point& next, bool turned,
                       std::vector<ExtraRow>& extras) {
  PetscFunctionBeginUser;
  Point probe;
  PetscCall(createPoint(cur.x, probe));
  StepView view{cur.p, next.p, next.x, turned,
                [&](double p, Vec x, bool* ok) {
                  PetscFunctionBeginUser;
                  PetscCall(solveAt(w, cur, next, p, probe, ok));
                  PetscCall(VecCopy(probe.x, x));
                  PetscFunctionReturn(0);
                }};
  PetscCall(w.set.examineStep(view, &extras));
  PetscCall(destroyPoint(probe));
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode followBranch(const BranchEquations& eq, const BranchSettings& set, Vec x,
                            const std::function<PetscErrorCode(const BranchRow&, Vec)>& onRow,
                            BranchOutcome* outcome) {
  PetscFunctionBeginUser;
  Work w{eq, set};
  PetscCall(VecDuplicate(x, &w.f));
  PetscCall(VecDuplicate(x, &w.g));
  PetscCall(VecDuplicate(x, &w.a));
  PetscCall(VecDuplicate(x, &w.b));
  PetscCall(VecDuplicate(x, &w.d));
  Point cur, next;
  PetscCall(createPoint(x, cur));
  PetscCall(createPoint(x, next));
  const double direction = set.to >= set.from ? 1.0 : -1.0;
  *outcome = {BranchEnd::StartFailed, 0, 0, 0, 0};
  Emitter e{onRow, w};

  PetscCall(VecCopy(x, cur.x));
  PetscCall(VecSet(w.b, 0.0));
  cur.p = set.from;
  bool ok;
  int steps;
  PetscCall(correct(w, cur.x, &cur.p, Border{nullptr, 1.0, nullptr, set.from, 0.0}, true, &ok,
                    &steps));
  if (ok) PetscCall(tangent(w, cur, nullptr, 0.0, direction, &ok));
  if (ok) {
    bool wanted = std::find(set.keepAt.begin(), set.keepAt.end(), cur.p) != set.keepAt.end();
    PetscCall(e.emit(cur, wanted ? "at" : "", true));
    double ds = set.firstStep;
    outcome->end = BranchEnd::StepBudget;
    while (outcome->steps < set.maxSteps) {
      ++outcome->steps;
      // Every accepted state is solved to the level of rounding: near a sharp
      // fold a state at the steps' tolerance is off in Gr by up to 5e-4 (at
      // Gr = 2e8), enough to show turns that are not there and hide the fold.
      PetscCall(stepFrom(w, cur, ds, true, next, &ok, &steps));
      if (ok) {
        Metric m{};
        PetscCall(metricAt(cur.x, cur.p, &m));
        PetscScalar dot;
        PetscCall(VecDot(cur.tx, next.tx, &dot));
        ok = m.wx * dot + m.wp * cur.tp * next.tp >= kTangentCosine || ds <= set.minStep;
      }
      if (!ok) {
        ds *= 0.5;
        if (set.onShorterStep) set.onShorterStep(cur.p, ds);
        if (ds < set.minStep) {
          outcome->end = BranchEnd::StepTooShort;
          break;
        }
        continue;
      }
      bool fold = (cur.tp < 0) != (next.tp < 0);
      bool branchPoint = !fold && cur.det != 0 && next.det != 0 && cur.det != next.det;
      std::vector<ExtraRow> extras;
      if (set.examineStep) PetscCall(examine(w, cur, next, fold || branchPoint, extras));
      PetscCall(emitBetween(w, e, cur, next, fold, branchPoint, extras, outcome));
      PetscCall(e.emit(next, "", true));
      PetscCall(copyPoint(next, cur));
      if ((cur.p - set.to) * direction >= 0) {
        outcome->end = BranchEnd::PassedEnd;
        break;
      }
      if ((cur.p - set.from) * direction < 0) {
        outcome->end = BranchEnd::ReturnedBelowStart;
        break;
      }
      // Lengths grow after a step that reached the steps' tolerance quickly.
      if (steps <= 4) ds = std::min(2 * ds, set.maxStep);
    }
    PetscCall(VecCopy(cur.x, x));
  }
  PetscCall(destroyPoint(cur));
  PetscCall(destroyPoint(next));
  PetscCall(VecDestroy(&w.f));
  PetscCall(VecDestroy(&w.g));
  PetscCall(VecDestroy(&w.a));
  PetscCall(VecDestroy(&w.b));
  PetscCall(VecDestroy(&w.d));
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
