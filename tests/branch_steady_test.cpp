// Continuation along a branch, on small systems whose branches are known in
// closed form: y = Q x with Q a reflection that couples all unknowns, and
//   fold:        g1 = y1^2 + p - 1       (y1 = +-sqrt(1 - p), a fold at p = 1)
//   crossing:    g1 = y1^2 - y1 (p - 1/2) (y1 = 0 crossed by y1 = p - 1/2 at p = 1/2)
// and g_i = y_i - c_i y1 - 1 for the others. F(x, p) = Q g(Q x, p).
// Also the plume residual's derivative in Gr against finite differences.

#include <gtest/gtest.h>
#include <petscsnes.h>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

#include "solver/weights.h"
#include "steady/arclength.h"
#include "steady/branch_run.h"
#include "steady/gr_derivative.h"
#include "steady/growth_fit.h"
#include "steady/residual.h"
#include "state/initial_state.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::steady;
using namespace plume::testing;

namespace {

constexpr int kN = 5;
constexpr std::array<double, kN> kReflect{1.0, -0.5, 0.25, 2.0, -1.0};  // Q = I - 2 v v^T / v.v
constexpr std::array<double, kN> kCouple{0.0, 0.3, -0.7, 1.1, 0.2};

enum class Shape { Fold, Crossing };

std::array<double, kN> reflect(const double* x) {
  double vv = 0, vx = 0;
  for (int i = 0; i < kN; ++i) vv += kReflect[i] * kReflect[i], vx += kReflect[i] * x[i];
  std::array<double, kN> y;
  for (int i = 0; i < kN; ++i) y[i] = x[i] - 2 * vx / vv * kReflect[i];
  return y;
}

// y of the known branch at y1, mapped back to x.
std::vector<double> stateAt(double y1) {
  std::array<double, kN> y;
  for (int i = 0; i < kN; ++i) y[i] = i == 0 ? y1 : kCouple[i] * y1 + 1;
  std::array<double, kN> x = reflect(y.data());
  return {x.begin(), x.end()};
}

struct Toy {
  Shape shape;
  Mat J;
  KSP ksp;
  Vec x;  // the state, the last one followed after follow()
  BranchEquations eq;
  std::vector<double> y1s, ps;  // y1 and p of the rows handed out
  std::vector<std::string> labels;
  std::function<PetscErrorCode(const StepView&, std::vector<ExtraRow>*)> examine;
  double failWithin = 0;  // the residual is NaN where |y1| is below this

  explicit Toy(Shape s) : shape(s) {
    MatCreateSeqAIJ(PETSC_COMM_SELF, kN, kN, kN, nullptr, &J);
    VecCreateSeq(PETSC_COMM_SELF, kN, &x);
    KSPCreate(PETSC_COMM_SELF, &ksp);
    KSPSetType(ksp, KSPGMRES);
    PC pc;
    KSPGetPC(ksp, &pc);
    PCSetType(pc, PCLU);
    eq.ksp = ksp;
    eq.J = J;
    eq.residual = [this](Vec x, double p, Vec f) { return apply(x, p, f, false); };
    eq.parameterDerivative = [this](Vec x, double p, Vec g) { return apply(x, p, g, true); };
    eq.jacobian = [this](Vec x, double p, Mat m) { return jacobian(x, p, m); };
    eq.determinantSign = [this](int* sign) { return determinant(sign); };
  }
  ~Toy() {
    KSPDestroy(&ksp);
    MatDestroy(&J);
    VecDestroy(&x);
  }

  PetscErrorCode apply(Vec xv, double p, Vec out, bool derivative) {
    PetscFunctionBeginUser;
    const PetscScalar* x;
    PetscCall(VecGetArrayRead(xv, &x));
    std::array<double, kN> y = reflect(x), g{};
    PetscCall(VecRestoreArrayRead(xv, &x));
    if (derivative) {
      g[0] = shape == Shape::Fold ? 1.0 : -y[0];
    } else {
      g[0] = shape == Shape::Fold ? y[0] * y[0] + p - 1 : y[0] * y[0] - y[0] * (p - 0.5);
      for (int i = 1; i < kN; ++i) g[i] = (y[i] - kCouple[i] * y[0]) - 1;
      if (std::fabs(y[0]) < failWithin) g.fill(NAN);
    }
    std::array<double, kN> f = reflect(g.data());
    PetscScalar* o;
    PetscCall(VecGetArray(out, &o));
    for (int i = 0; i < kN; ++i) o[i] = f[i];
    PetscCall(VecRestoreArray(out, &o));
    PetscFunctionReturn(0);
  }

  // J = Q Dg Q, column by column: Q Dg Q e_k.
  PetscErrorCode jacobian(Vec xv, double p, Mat m) {
    PetscFunctionBeginUser;
    const PetscScalar* x;
    PetscCall(VecGetArrayRead(xv, &x));
    std::array<double, kN> y = reflect(x);
    PetscCall(VecRestoreArrayRead(xv, &x));
    double d11 = shape == Shape::Fold ? 2 * y[0] : 2 * y[0] - (p - 0.5);
    for (int k = 0; k < kN; ++k) {
      double e[kN] = {};
      e[k] = 1;
      std::array<double, kN> q = reflect(e), dg{};
      dg[0] = d11 * q[0];
      for (int i = 1; i < kN; ++i) dg[i] = q[i] - kCouple[i] * q[0];
      std::array<double, kN> col = reflect(dg.data());
      for (PetscInt i = 0; i < kN; ++i) PetscCall(MatSetValue(m, i, k, col[i], INSERT_VALUES));
    }
    PetscCall(MatAssemblyBegin(m, MAT_FINAL_ASSEMBLY));
    PetscCall(MatAssemblyEnd(m, MAT_FINAL_ASSEMBLY));
    PetscFunctionReturn(0);
  }

  // det J by elimination with row pivoting.
  PetscErrorCode determinant(int* sign) {
    PetscFunctionBeginUser;
    double a[kN][kN];
    for (PetscInt i = 0; i < kN; ++i)
      for (PetscInt k = 0; k < kN; ++k) PetscCall(MatGetValue(J, i, k, &a[i][k]));
    double det = 1;
    for (int c = 0; c < kN; ++c) {
      int r = c;
      for (int i = c + 1; i < kN; ++i)
        if (std::fabs(a[i][c]) > std::fabs(a[r][c])) r = i;
      if (r != c) {
        for (int k = 0; k < kN; ++k) std::swap(a[r][k], a[c][k]);
        det = -det;
      }
      det *= a[c][c];
      for (int i = c + 1; i < kN; ++i)
        for (int k = c + 1; k < kN; ++k) a[i][k] -= a[i][c] / a[c][c] * a[c][k];
    }
    *sign = det > 0 ? 1 : (det < 0 ? -1 : 0);
    PetscFunctionReturn(0);
  }

  // From near the known state at y1Start (solved at p = from first).
  BranchOutcome follow(double from, double to, double y1Start, double tolerance = 1e-8,
                       std::vector<double> keepAt = {},
                       const std::function<void(BranchSettings&)>& adjust = {}) {
    BranchSettings settings;
    if (adjust) adjust(settings);
    settings.from = from;
    settings.to = to;
    settings.tolerance = tolerance;
    settings.keepAt = keepAt;
    settings.examineStep = examine;
    std::vector<double> x0 = stateAt(y1Start);
    for (int i = 0; i < kN; ++i) VecSetValue(x, i, x0[i] + 1e-3 * (i + 1), INSERT_VALUES);
    VecAssemblyBegin(x);
    VecAssemblyEnd(x);
    BranchOutcome outcome{};
    auto onRow = [this](const BranchRow& row, Vec state) -> PetscErrorCode {
      const PetscScalar* s;
      PetscFunctionBeginUser;
      PetscCall(VecGetArrayRead(state, &s));
      y1s.push_back(reflect(s)[0]);
      PetscCall(VecRestoreArrayRead(state, &s));
      ps.push_back(row.p);
      labels.push_back(row.label);
      PetscFunctionReturn(0);
    };
    EXPECT_EQ(followBranch(eq, settings, x, onRow, &outcome), 0);
    return outcome;
  }
};

}  // namespace

TEST(Branch, FollowsAFoldRoundAndBackBelowTheStartKeepingTheWantedStates) {
  Toy toy(Shape::Fold);
  BranchOutcome o = toy.follow(0, 2, 1.0, 1e-12, {0.5});
  EXPECT_EQ(o.end, BranchEnd::ReturnedBelowStart);
  EXPECT_EQ(o.folds, 1);
  EXPECT_EQ(o.branchPoints, 0);
  ASSERT_GE(toy.ps.size(), 5u);
  EXPECT_EQ(toy.ps[0], 0.0);
  EXPECT_NEAR(toy.y1s[0], 1.0, 1e-12);
  std::vector<int> folds, at;
  for (std::size_t k = 0; k < toy.labels.size(); ++k) {
    if (toy.labels[k] == "fold") folds.push_back(static_cast<int>(k));
    if (toy.labels[k] == "at") at.push_back(static_cast<int>(k));
    // Every state lies on the branch: y1^2 = 1 - p.
    EXPECT_NEAR(toy.y1s[k] * toy.y1s[k], 1 - toy.ps[k], 1e-9) << k;
  }
  ASSERT_EQ(folds.size(), 1u);
  EXPECT_NEAR(toy.ps[folds[0]], 1.0, 1e-6);
  // Before the fold the upper half of the branch, after it the lower.
  for (int k = 0; k < folds[0]; ++k) EXPECT_GT(toy.y1s[k], 0.0) << k;
  for (std::size_t k = folds[0] + 1; k < toy.ps.size(); ++k) EXPECT_LT(toy.y1s[k], 0.0) << k;
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(toy.ps[at[0]], 0.5);
  EXPECT_EQ(toy.ps[at[1]], 0.5);
  EXPECT_NEAR(toy.y1s[at[0]], std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(toy.y1s[at[1]], -std::sqrt(0.5), 1e-12);
  EXPECT_LT(toy.ps.back(), 0.0);
}

TEST(Branch, AFoldThatCannotBeLocatedIsReportedNotDropped) {
  // No state converges near the fold (|y1| < 1e-2): steps jump over it, the
  // search inside the step cannot get there.
  Toy toy(Shape::Fold);
  toy.failWithin = 1e-2;
  int told = 0, toldFolds = 0;
  double p0 = NAN, p1 = NAN;
  BranchOutcome o = toy.follow(0, 2, 1.0, 1e-12, {}, [&](BranchSettings& s) {
    s.onUnlocated = [&](double a, double b, bool fold) {
      ++told, toldFolds += fold, p0 = a, p1 = b;
    };
  });
  EXPECT_EQ(o.end, BranchEnd::ReturnedBelowStart);
  EXPECT_EQ(o.folds, 0);
  EXPECT_EQ(o.unlocated, 1);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(toldFolds, 1);
  EXPECT_LT(p0, 1.0);
  EXPECT_LT(p1, 1.0);
  for (const std::string& label : toy.labels) EXPECT_NE(label, "fold");
}

TEST(Branch, StatesAskedForOnAStepAreOnTheBranchAndComeOutInBranchOrder) {
  Toy toy(Shape::Fold);
  int asked = 0, turned = 0;
  toy.examine = [&](const StepView& v, std::vector<ExtraRow>* extras) -> PetscErrorCode {
    PetscFunctionBeginUser;
    if (v.turned) {
      ++turned;
      PetscFunctionReturn(0);
    }
    // The state at the step's middle, as the step hands it out: on the branch.
    const double mid = 0.5 * (v.p0 + v.p1);
    Vec x;
    PetscCall(VecDuplicate(v.x1, &x));
    bool ok = false;
    PetscCall(v.stateAt(mid, x, &ok));
    EXPECT_TRUE(ok);
    const PetscScalar* a;
    PetscCall(VecGetArrayRead(x, &a));
    const double y1 = reflect(a)[0];
    PetscCall(VecRestoreArrayRead(x, &a));
    EXPECT_NEAR(y1 * y1, 1 - mid, 1e-9) << mid;
    PetscCall(VecDestroy(&x));
    extras->push_back({mid, "mid"});
    ++asked;
    PetscFunctionReturn(0);
  };
  BranchOutcome o = toy.follow(0, 2, 1.0, 1e-12, {0.5});
  EXPECT_EQ(o.folds, 1);
  EXPECT_EQ(turned, 1);
  int mids = 0;
  for (std::size_t k = 0; k < toy.labels.size(); ++k) {
    EXPECT_NEAR(toy.y1s[k] * toy.y1s[k], 1 - toy.ps[k], 1e-9) << k;
    if (toy.labels[k] != "mid") continue;
    ++mids;
    // Between the rows before and after it, along the branch: y1 falls all along.
    ASSERT_GT(k, 0u);
    ASSERT_LT(k + 1, toy.labels.size());
    EXPECT_GT(toy.y1s[k - 1], toy.y1s[k]) << k;
    EXPECT_GT(toy.y1s[k], toy.y1s[k + 1]) << k;
  }
  EXPECT_EQ(mids, asked);
  EXPECT_GE(asked, 3);
}

TEST(Branch, LocatesACrossingBranchAndGoesOnAlongItsOwn) {
  Toy toy(Shape::Crossing);
  BranchOutcome o = toy.follow(0, 1, 0.0);
  EXPECT_EQ(o.end, BranchEnd::PassedEnd);
  EXPECT_EQ(o.folds, 0);
  ASSERT_EQ(o.branchPoints, 1);
  int found = 0;
  for (std::size_t k = 0; k < toy.labels.size(); ++k) {
    EXPECT_NEAR(toy.y1s[k], 0.0, 1e-9) << k;  // never onto the crossing branch
    if (toy.labels[k] == "branch") {
      ++found;
      EXPECT_NEAR(toy.ps[k], 0.5, 0.5e-6);
    }
  }
  EXPECT_EQ(found, 1);
  EXPECT_GE(toy.ps.back(), 1.0);
}

TEST(Branch, BorderedStepsReachTheStatesPlainNewtonFindsAtTheirParameter) {
  Toy toy(Shape::Fold);
  toy.follow(0.1, 0.6, 0.9, 1e-12);
  Vec x = toy.x;
  ASSERT_GE(toy.ps.size(), 3u);
  // The last state by bordered steps, and Newton at its p from the start's guess.
  double p = toy.ps.back();
  std::vector<double> bordered(kN);
  VecGetValues(x, kN, std::array<PetscInt, kN>{0, 1, 2, 3, 4}.data(), bordered.data());
  SNES snes;
  SNESCreate(PETSC_COMM_SELF, &snes);
  Vec f;
  VecDuplicate(x, &f);
  auto residual = [](SNES, Vec xv, Vec fv, void* ctx) -> PetscErrorCode {
    auto* c = static_cast<std::pair<Toy*, double>*>(ctx);
    return c->first->apply(xv, c->second, fv, false);
  };
  auto jacobian = [](SNES, Vec xv, Mat A, Mat, void* ctx) -> PetscErrorCode {
    auto* c = static_cast<std::pair<Toy*, double>*>(ctx);
    return c->first->jacobian(xv, c->second, A);
  };
  std::pair<Toy*, double> ctx{&toy, p};
  SNESSetFunction(snes, f, residual, &ctx);
  SNESSetJacobian(snes, toy.J, toy.J, jacobian, &ctx);
  SNESSetTolerances(snes, 1e-14, 1e-14, 0, 50, 1000);
  std::vector<double> guess = stateAt(0.9);
  for (int i = 0; i < kN; ++i) VecSetValue(x, i, guess[i], INSERT_VALUES);
  VecAssemblyBegin(x);
  VecAssemblyEnd(x);
  SNESSolve(snes, nullptr, x);
  SNESConvergedReason reason;
  SNESGetConvergedReason(snes, &reason);
  EXPECT_GT(reason, 0);
  std::vector<double> plain(kN);
  VecGetValues(x, kN, std::array<PetscInt, kN>{0, 1, 2, 3, 4}.data(), plain.data());
  for (int i = 0; i < kN; ++i) EXPECT_NEAR(bordered[i], plain[i], 1e-10) << i;
  EXPECT_NEAR(reflect(plain.data())[0], std::sqrt(1 - p), 1e-12);
  SNESDestroy(&snes);
  VecDestroy(&f);
}

TEST(Branch, ResidualDerivativeInGrAgreesWithFiniteDifferences) {
  // A random state with a moderate flow, at nodes inside, by the walls, on the
  // axis row and at the source.
  setInitialState(st, testCase() = Case{});  // every field and number zero
  testCase().Pr = 0.71;
  plume::testing::fillRandom(T, 21, -1, 1);
  plume::testing::fillRandom(Omega, 22, -50, 50);
  plume::testing::fillRandom(Psi, 23, -2e-3, 2e-3);
  for (int j = 0; j <= NY; ++j) T[srcI + 1][j] = T[srcI - 1][j];  // row 601 mirrors 599
  const int nodes[][2] = {{1, 1}, {300, 1}, {417, 333}, {600, 19}, {600, 20}, {599, 918}};
  for (auto [i, j] : nodes) {
    const double gr = 3e6, step = 1e3;
    NodeValues own{T[i][j], Omega[i][j], Psi[i][j]};
    testCase().Gr = gr + step;
    NodeValues plus = nodeResidual({st, testCase()}, i, j, own);
    testCase().Gr = gr - step;
    NodeValues minus = nodeResidual({st, testCase()}, i, j, own);
    testCase().Gr = gr;
    NodeValues d = nodeGrDerivative({st, testCase()}, i, j);
    double fd = (plus.omega - minus.omega) / (2 * step);
    EXPECT_NEAR(d.omega, fd, 1e-7 * std::fabs(fd) + 1e-12) << i << ", " << j;
    EXPECT_EQ(d.t, 0.0);
    EXPECT_EQ(d.psi, 0.0);
    if (i == srcI) EXPECT_EQ(d.omega, 0.0) << "the axis row's buoyancy cancels by the mirror rule";
    else EXPECT_NE(d.omega, 0.0);
  }
}

TEST(Branch, GrowthAndFrequencyAreReadFromARecordedPerturbation) {
  // A complex mode, e^(sigma t) (cos(w t) a - sin(w t) b), sampled at uneven
  // steps as adaptive time steps leave it; and a real one.
  const double sigma = -0.37, w = 5.3, a[2] = {1.0, 0.4}, b[2] = {-0.3, 0.8};
  std::vector<double> t, norm, probe, realNorm, realProbe;
  for (double time = 0, dt = 1e-3; time < 12; time += dt, dt = std::min(dt * 1.07, 0.02)) {
    double e = std::exp(sigma * time), c = std::cos(w * time), s = std::sin(w * time);
    double v0 = e * (c * a[0] - s * b[0]), v1 = e * (c * a[1] - s * b[1]);
    t.push_back(time);
    norm.push_back(std::hypot(v0, v1));
    probe.push_back(v0);
    realNorm.push_back(3 * e);
    realProbe.push_back(-e);
  }
  GrowthFit complex = fitGrowth(t, norm, probe);
  EXPECT_NEAR(complex.rate, sigma, 0.01 * std::fabs(sigma));
  EXPECT_NEAR(complex.frequency, w, 0.005 * w);
  GrowthFit real = fitGrowth(t, realNorm, realProbe);
  EXPECT_NEAR(real.rate, sigma, 1e-9);
  EXPECT_EQ(real.frequency, 0.0);

  // A fast growing pair seen for three periods, its norm swinging by a factor
  // 2 within each (as the swaying mode at Gr = 1e8 does): the slope of
  // log(norm) over the later half's single period is 61 % off here.
  const double grow = 58.6, fast = 1280.0, c[2] = {1.0, 0.0}, d[2] = {0.5, 0.9};
  t.clear(), norm.clear(), probe.clear();
  for (int k = 0; k <= 375; ++k) {
    double time = 4e-5 * k, e = std::exp(grow * time);
    double v0 = e * (std::cos(fast * time) * c[0] - std::sin(fast * time) * d[0]);
    double v1 = e * (std::cos(fast * time) * c[1] - std::sin(fast * time) * d[1]);
    t.push_back(time);
    norm.push_back(std::hypot(v0, v1));
    probe.push_back(v0);
  }
  GrowthFit sway = fitGrowth(t, norm, probe);
  EXPECT_NEAR(sway.rate, grow, 0.01 * grow);
  EXPECT_NEAR(sway.frequency, fast, 0.01 * fast);
}

TEST(Branch, LongOptionsReachPetscInItsForm) {
  EXPECT_EQ(petscStyleArguments({"plume-steady", "--branch", "1e5", "2e8", "--at", "1e6,2e6", "-ksp_type",
                                 "gmres", "--evolve", "3", "--mode", "anti", "--perturb", "1e-6"}),
            (std::vector<std::string>{"plume-steady", "-branch", "1e5,2e8", "-at", "1e6,2e6", "-ksp_type",
                                      "gmres", "-evolve", "3", "-mode", "anti", "-perturb", "1e-6"}));
  // --branch without its two values is left for the option check to refuse.
  EXPECT_EQ(petscStyleArguments({"plume-steady", "--branch", "1e5"}),
            (std::vector<std::string>{"plume-steady", "--branch", "1e5"}));
}
