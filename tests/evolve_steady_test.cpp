// Time integration of M dv/dt = f(v) with an algebraic unknown, on a small
// system whose solution is known: v1 = e^-t cos 2t, v2 = -e^-t sin 2t and
// v3 = v1 + v2 (M = 0 on it).

#include <gtest/gtest.h>
#include <petscts.h>

#include <cmath>
#include <vector>

#include "steady/growth_fit.h"
#include "steady/time_integration.h"

using namespace plume::steady;

TEST(Evolve, AnOscillatingDecayWithAnAlgebraicUnknownFollowsItsExactSolution) {
  Mat A;
  MatCreateSeqAIJ(PETSC_COMM_SELF, 3, 3, 3, nullptr, &A);
  const double a[3][3] = {{-1, 2, 0}, {-2, -1, 0}, {1, 1, -1}};
  for (PetscInt i = 0; i < 3; ++i)
    for (PetscInt k = 0; k < 3; ++k)
      if (a[i][k] != 0 || i == k)
        MatSetValue(A, i, k, a[i][k], INSERT_VALUES);
  MatAssemblyBegin(A, MAT_FINAL_ASSEMBLY);
  MatAssemblyEnd(A, MAT_FINAL_ASSEMBLY);
  Vec v, mass;
  VecCreateSeq(PETSC_COMM_SELF, 3, &v);
  VecDuplicate(v, &mass);
  const PetscInt idx[3] = {0, 1, 2};
  const double m[3] = {1, 1, 0}, start[3] = {1, 0, 1};
  VecSetValues(mass, 3, idx, m, INSERT_VALUES);
  VecAssemblyBegin(mass);
  VecAssemblyEnd(mass);

  // As a general form (Newton on each step) and as a linear one (one solve).
  for (bool linear : {false, true}) {
    SCOPED_TRACE(linear ? "linear" : "general");
    VecSetValues(v, 3, idx, start, INSERT_VALUES);
    VecAssemblyBegin(v);
    VecAssemblyEnd(v);
    TimeForm form;
    form.linear = linear;
    form.A = A;
    form.mass = mass;
    form.rhs = [A](Vec x, Vec f) { return MatMult(A, x, f); };
    form.firstStep = 1e-3;
    form.rtol = 1e-7;
    std::vector<double> t, norm, probe, algebraic;
    auto onStep = [&](double time, Vec x) -> PetscErrorCode {
      const PetscScalar *s;
      PetscFunctionBeginUser;
      PetscCall(VecGetArrayRead(x, &s));
      t.push_back(time);
      norm.push_back(std::hypot(s[0], s[1]));
      probe.push_back(s[0]);
      algebraic.push_back(s[2] - (s[0] + s[1]));
      PetscCall(VecRestoreArrayRead(x, &s));
      PetscFunctionReturn(0);
    };
    TimeOutcome outcome;
    ASSERT_EQ(integrate(form, v, 6.0, onStep, &outcome), 0);
    EXPECT_DOUBLE_EQ(outcome.reached, 6.0);
    EXPECT_EQ(t.front(), 0.0);
    EXPECT_EQ(t.size(), std::size_t(outcome.steps) + 1);
    // Adaptive steps, the factors reused across most of them.
    EXPECT_LT(outcome.steps, 4000); // 6000 at the first step's size
    EXPECT_GT(t.back() - t[t.size() - 2], 2 * (t[1] - t[0]));
    EXPECT_LT(outcome.factorisations, outcome.steps / 2);

    const PetscScalar *s;
    VecGetArrayRead(v, &s);
    const double e = std::exp(-6.0);
    EXPECT_NEAR(s[0], e * std::cos(12.0), 1e-3 * e);
    EXPECT_NEAR(s[1], -e * std::sin(12.0), 1e-3 * e);
    EXPECT_NEAR(s[2], s[0] + s[1], 1e-9 * e);
    VecRestoreArrayRead(v, &s);
    for (std::size_t k = 1; k < algebraic.size(); ++k)
      EXPECT_NEAR(algebraic[k], 0.0, 1e-9) << t[k];

    // The rate and frequency read from the record are the eigenvalue's, -1 +-
    // 2i.
    GrowthFit fit = fitGrowth(t, norm, probe);
    EXPECT_NEAR(fit.rate, -1.0, 0.01);
    EXPECT_NEAR(fit.frequency, 2.0, 0.02);
  }
  VecDestroy(&v);
  VecDestroy(&mass);
  MatDestroy(&A);
}
