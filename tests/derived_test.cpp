// The summary's quantities: heat flows on a state worked by hand and their
// balance against the node equations on any state, the conduction state
// against the discrete Laplacian, the extremes and their positions, and the
// text of the summary and axis files.

#include "output/derived.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "output/conduction.h"
#include "output/heat_flows.h"
#include "output/summary_files.h"
#include "solver/weights.h"
#include "state/initial_state.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

struct Fields {
  Field t, psi;
};

// Walls as the initial state sets them (rows take the corners).
void setWalls(Field& t, double bottom, double top, double left, double right) {
  for (int i = 0; i <= NX; ++i) t[i][0] = bottom, t[i][NY] = top;
  for (int j = 0; j <= NY; ++j) t[0][j] = left, t[NX][j] = right;
}

}  // namespace

TEST(HeatFlows, ByHandInAUniformFlowAlongX) {
  // Psi = j/2048 everywhere: every face velocity along x is
  // (4/2048) * 0.25 / h = 1200/2048 (up to the rounding of h), along y 0.
  // With Pr = 4096 a face's Peclet number is q = h*Pr*e = 2: damping
  // 1/(1 + q/2) = 1/2, so the weights times h*h are W: 1/2 + 2 = 5/2,
  // E: 1/2, S = N: 1 (no flow across them, no damping).
  // T: 0 inside, the source 1, left wall 1, bottom wall 1/2, the others 0.
  auto f = std::make_unique<Fields>();
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) f->psi[i][j] = j / 2048.0;
  setWalls(f->t, 0.5, 0, 1, 0);
  f->t[srcI][srcJ] = 1;
  HeatFlows q = heatFlows(f->t, f->psi, 4096);
  // Left: 919 faces into the wall, each 5/2 * (0 - 1) + (-2) * 0 = -5/2.
  EXPECT_NEAR(q.left, -2297.5, 1e-9);
  // Bottom: 1199 faces, each 1 * (0 - 1/2) = -1/2. Right and top: T = 0 on both sides.
  EXPECT_NEAR(q.bottom, -599.5, 1e-9);
  EXPECT_EQ(q.right, 0.0);
  EXPECT_EQ(q.top, 0.0);
  // The source's neighbours receive: upstream (599, 20) its E weight 1/2,
  // downstream (601, 20) its W weight 5/2, below and above 1 each: 5 in all.
  EXPECT_NEAR(q.source, 5.0, 1e-12);
  EXPECT_NEAR(q.balance, 5.0 + 2897.0, 1e-9);

  // The same state carried against the flow: the source's upstream and
  // downstream neighbours swap, the left wall's faces now take the damped
  // weight 1/2 and carry the flow out at T = 0: -1/2 each.
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) f->psi[i][j] = -j / 2048.0;
  q = heatFlows(f->t, f->psi, 4096);
  EXPECT_NEAR(q.left, -459.5, 1e-9);
  EXPECT_NEAR(q.source, 5.0, 1e-12);
}

TEST(HeatFlows, BalanceIsMinusTheSumOfTheNodeEquations) {
  // On any state the flows differ by what the node equations leave: the
  // temperature sweep's a_P T - sum a_B T_B, times h*h, over every node but
  // walls and source. At a fixed point that sum is zero.
  setInitialState(st, testCase() = Case{});  // every field and number zero
  testCase().Pr = 0.71;
  fillRandom(T, 3, -1, 1);
  fillRandom(Psi, 4, -2e-3, 2e-3);
  setWalls(T, 0.25, -0.5, 1, 0.3);
  T[srcI][srcJ] = 1;
  double sum = 0, size = 0;
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) {
      if (i == srcI && j == srcJ) continue;
      const double pr = testCase().Pr;
      double r = aP(Psi, i, j, pr) * T[i][j] - (((aS(Psi, i, j, pr) * T[i][j - 1] +
                                                  aW(Psi, i, j, pr) * T[i - 1][j]) +
                                                 aE(Psi, i, j, pr) * T[i + 1][j]) +
                                                aN(Psi, i, j, pr) * T[i][j + 1]);
      sum += r * kStepSq;
      size += std::fabs(r * kStepSq);
    }
  HeatFlows q = heatFlows(T, Psi, testCase().Pr);
  EXPECT_GT(std::fabs(q.balance), 1.0);
  EXPECT_NEAR(q.balance, -sum, 1e-14 * size) << "sum of |node equations| " << size;
  setInitialState(st, testCase() = Case{});  // every field and number zero
}

TEST(Conduction, SatisfiesTheDiscreteLaplacianWithTheSourceHeld) {
  auto f = std::make_unique<Fields>();
  const Case walls{7, 0.71, 0.25, -0.5, 1, 0.3};
  if (!solveConduction(walls, f->t)) GTEST_SKIP() << "built without FFTW";
  double worst = 0;
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j)
      if (i != srcI || j != srcJ)
        worst = std::max(worst, std::fabs(4 * f->t[i][j] - (((f->t[i - 1][j] + f->t[i + 1][j]) +
                                                             f->t[i][j - 1]) + f->t[i][j + 1])));
  EXPECT_LT(worst, 1e-12);
  EXPECT_EQ(f->t[srcI][srcJ], 1.0);
  EXPECT_EQ(f->t[0][5], 1.0);
  EXPECT_EQ(f->t[NX][NY], 0.3);
  EXPECT_EQ(f->t[7][0], 0.25);
  EXPECT_EQ(f->t[7][NY], -0.5);
  // Still fluid: its flows balance too.
  HeatFlows q = heatFlows(f->t, f->psi, 0.71);
  EXPECT_GT(q.source, 0.1);
  EXPECT_LT(std::fabs(q.balance), 1e-11 * q.source);
  EXPECT_EQ(conductionSourceFlow(walls), q.source);

  // The flow is linear in the walls' distance from the source's 1, and none
  // where there is none.
  const double cold = *conductionSourceFlow({1, 1, 0, 0, 0, 0});
  const double warm = *conductionSourceFlow({1, 1, 0.25, 0.25, 0.25, 0.25});
  EXPECT_NEAR(warm, 0.75 * cold, 1e-12 * cold);
  EXPECT_FALSE(conductionSourceFlow({1, 1, 1, 1, 1, 1}));
}

TEST(Derived, ExtremesOfTheStreamFunctionAndVelocityWithTheirPositions) {
  auto f = std::make_unique<Fields>();
  // A vortex pair: Psi 1 at (300, 400), -2 at (900, 400), 0 elsewhere. The
  // largest |u| = 2 / (2h) = 1200 beside the -2, first at (900, 399); |v| the same.
  f->psi[300][400] = 1;
  f->psi[900][400] = -2;
  f->psi[500][500] = NAN;  // never an extreme
  Derived d = computeDerived(f->t, f->psi, {1, 0.71, 0, 0, 0, 0});
  EXPECT_EQ(d.psiMax.value, 1.0);
  EXPECT_EQ(d.psiMax.x, 300 * kStep);
  EXPECT_EQ(d.psiMax.y, 400 * kStep);
  EXPECT_EQ(d.psiMin.value, -2.0);
  EXPECT_EQ(d.psiMin.x, 900 * kStep);
  EXPECT_EQ(d.uMax.value, 2 / kTwoStep);
  EXPECT_EQ(d.uMax.x, 900 * kStep);
  EXPECT_EQ(d.uMax.y, 399 * kStep);
  EXPECT_EQ(d.vMax.value, 2 / kTwoStep);
  EXPECT_EQ(d.vMax.x, 899 * kStep);
  EXPECT_EQ(d.vMax.y, 400 * kStep);
  EXPECT_EQ(velocityV(f->psi, 899, 400), 2 / kTwoStep);  // -dPsi/dx: up left of a minimum
}

TEST(SummaryFiles, JsonKeysInOrderNumbersThatReadBackAndNullsWhereUndefined) {
  Derived d;
  d.flows = {1.0 / 3, -0.1, 2, 3, 4, -1e-17};
  d.psiMax = {0.71, 0.5, 0.25};
  d.psiMin = {-0.71, 0.75, 0.25};
  d.uMax = {12.5, 0.125, 1.0 / 3};
  d.vMax = {INFINITY, 0, 0};
  const std::string json = summaryJson({1e5, 0.71, 0, -0.5, 1, 0}, {"iterations", 42, true, NAN}, d);
  EXPECT_EQ(json,
            "{\n  \"gr\": 1e+05,\n  \"pr\": 0.71,\n  \"t_bottom\": 0,\n  \"t_top\": -0.5,\n"
            "  \"t_left\": 1,\n  \"t_right\": 0,\n  \"iterations\": 42,\n  \"verified\": true,\n"
            "  \"sum_omega_sq\": null,\n  \"q_source\": 0.3333333333333333,\n  \"q_bottom\": -0.1,\n"
            "  \"q_top\": 2,\n  \"q_left\": 3,\n  \"q_right\": 4,\n  \"balance\": -1e-17,\n"
            "  \"nu\": null,\n  \"psi_max\": 0.71,\n  \"psi_min\": -0.71,\n  \"x_psi_max\": 0.5,\n"
            "  \"y_psi_max\": 0.25,\n  \"x_psi_min\": 0.75,\n  \"y_psi_min\": 0.25,\n"
            "  \"u_max\": 12.5,\n  \"x_u_max\": 0.125,\n  \"y_u_max\": 0.3333333333333333,\n"
            "  \"v_max\": null,\n  \"x_v_max\": 0,\n  \"y_v_max\": 0\n}\n");
  EXPECT_EQ(std::strtod("0.3333333333333333", nullptr), 1.0 / 3);
  d.nu = 2.5;
  EXPECT_NE(summaryJson({}, {"newton_steps", 7, false, 1.5}, d)
                .find("\"newton_steps\": 7,\n  \"verified\": false,\n  \"sum_omega_sq\": 1.5,"),
            std::string::npos);
  EXPECT_NE(summaryJson({}, {"newton_steps", 7, false, 1.5}, d).find("\"nu\": 2.5,"), std::string::npos);
  const StabilityFacts s{false, -26.5, 0, 0.125, -3.5};
  EXPECT_NE(summaryJson({}, {"newton_steps", 7, true, 1.5, &s}, d)
                .find("\"verified\": true,\n  \"stable\": false,\n  \"lambda_sym_re\": -26.5,\n"
                      "  \"lambda_sym_im\": 0,\n  \"lambda_anti_re\": 0.125,\n  \"lambda_anti_im\": -3.5,\n"
                      "  \"sum_omega_sq\": 1.5,"),
            std::string::npos);
  EXPECT_EQ(summaryPath(1e5), "Result/251_301_5_150/summary_Gr_100000.json");
  EXPECT_EQ(axisPath(2.5e6), "Result/251_301_5_150/axis_Gr_2.5e+06.csv");
}

TEST(SummaryFiles, AxisHoldsYTemperatureAndVerticalVelocityOfTheAxisRow) {
  auto f = std::make_unique<Fields>();
  f->t[srcI][NY] = 0.125;
  f->t[srcI][1] = 1.0 / 3;
  f->psi[srcI - 1][1] = -0.5, f->psi[srcI + 1][1] = 0.5;  // v = -(0.5 + 0.5) / 2h
  const std::string csv = axisCsv(f->t, f->psi);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), NY + 2);
  ASSERT_TRUE(csv.starts_with("y,T,v\n0,0,0\n")) << csv.substr(0, 80);
  // Each number reads back as the double it was written from.
  auto line = [&](std::size_t at, double y, double t, double v) {
    char* end = &const_cast<std::string&>(csv)[at];
    for (double want : {y, t, v}) {
      const double got = std::strtod(end, &end);
      EXPECT_TRUE(sameBits(got, want)) << got << " vs " << want;
      EXPECT_TRUE(*end == ',' || *end == '\n');
      ++end;
    }
  };
  line(csv.find('\n', 6) + 1, 1 * kStep, 1.0 / 3, -(1 / kTwoStep));
  line(csv.rfind('\n', csv.size() - 2) + 1, NY * kStep, 0.125, 0.0);
}
