// The convection-diffusion weights: pure diffusion without flow or without
// convection, the upwind side of a uniform flow along either axis, the
// damping of the diffusive part, and the centre weight as the sum W, S, E, N.

#include <gtest/gtest.h>

#include "solver/weights.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

constexpr double kDiffusive = 1 / kStepSq;  // a neighbour weight without flow

// Nodes spread over the computed half and the axis row.
constexpr int kNodes[][2] = {{1, 1}, {75, 460}, {300, 919}, {599, 20}, {600, 1}, {600, 919}};

struct Weights {
  double w, s, e, n, p;
};

Weights weightsAt(int i, int j, double convFactor) {
  return {aW(i, j, convFactor), aS(i, j, convFactor), aE(i, j, convFactor),
          aN(i, j, convFactor), aP(i, j, convFactor)};
}

// Weight of the neighbour upstream of a face with cell Peclet number |P|, and
// of the one downstream: (1/(1 + |P|/2) + |P|) / h^2 and 1/(1 + |P|/2) / h^2.
double upstreamWeight(double peclet) { return (1 / (1 + peclet / 2) + peclet) / kStepSq; }
double downstreamWeight(double peclet) { return (1 / (1 + peclet / 2)) / kStepSq; }

// Psi[i][j] = a*i*h + b*j*h on the whole grid: a uniform flow with
// u = dPsi/dy = b and v = -dPsi/dx = -a.
void setLinearStreamFunction(double a, double b) {
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) Psi[i][j] = a * i * kStep + b * j * kStep;
}

}  // namespace

TEST(Weights, ZeroStreamFunctionGivesPureDiffusion) {
  resetState();
  for (double conv : {0.0, 0.71, 7.0})
    for (const auto& node : kNodes) {
      Weights a = weightsAt(node[0], node[1], conv);
      EXPECT_EQ(a.w, kDiffusive);
      EXPECT_EQ(a.s, kDiffusive);
      EXPECT_EQ(a.e, kDiffusive);
      EXPECT_EQ(a.n, kDiffusive);
      EXPECT_EQ(a.p, ((kDiffusive + kDiffusive) + kDiffusive) + kDiffusive);
      EXPECT_EQ(a.p, 5759999.999999999);
    }
}

TEST(Weights, ReadOnlyTheThreeByThreeBlockAroundTheNode) {
  // Flow everywhere except on the 3 x 3 block around (300, 400).
  resetState();
  fillRandom(Psi, 11, -1e-3, 1e-3);
  for (int i = 299; i <= 301; ++i)
    for (int j = 399; j <= 401; ++j) Psi[i][j] = 0.0;
  Weights a = weightsAt(300, 400, 0.71);
  EXPECT_EQ(a.w, kDiffusive);
  EXPECT_EQ(a.s, kDiffusive);
  EXPECT_EQ(a.e, kDiffusive);
  EXPECT_EQ(a.n, kDiffusive);
  // The same random field does carry flow elsewhere.
  EXPECT_NE(aW(200, 400, 0.71), kDiffusive);
}

TEST(Weights, ZeroConvectionFactorIgnoresTheStreamFunction) {
  resetState();
  fillRandom(Psi, 12, -1e-2, 1e-2);
  for (const auto& node : kNodes) {
    Weights a = weightsAt(node[0], node[1], 0.0);
    EXPECT_EQ(a.w, kDiffusive);
    EXPECT_EQ(a.s, kDiffusive);
    EXPECT_EQ(a.e, kDiffusive);
    EXPECT_EQ(a.n, kDiffusive);
    Weights withFlow = weightsAt(node[0], node[1], 0.71);
    EXPECT_FALSE(withFlow.w == kDiffusive && withFlow.e == kDiffusive)
        << "the random stream function should carry flow at " << node[0] << ", " << node[1];
  }
}

TEST(Weights, FlowAlongIFavoursTheUpstreamNeighbour) {
  // Psi = U*j*h: u = U > 0 on the west and east faces, v = 0 exactly.
  resetState();
  const double u = 3.0, pr = 0.71;
  setLinearStreamFunction(0.0, u);
  const double peclet = kStep * pr * u;
  for (const auto& node : kNodes) {
    Weights a = weightsAt(node[0], node[1], pr);
    EXPECT_EQ(a.s, kDiffusive);
    EXPECT_EQ(a.n, kDiffusive);
    EXPECT_NEAR(a.w, upstreamWeight(peclet), 1e-12 * kDiffusive);
    EXPECT_NEAR(a.e, downstreamWeight(peclet), 1e-12 * kDiffusive);
    EXPECT_GT(a.w, kDiffusive);  // convective part
    EXPECT_LT(a.e, kDiffusive);  // damped diffusion only
    EXPECT_EQ(a.p, ((a.w + a.s) + a.e) + a.n);
  }
  // The reversed flow swaps the roles of west and east exactly.
  Weights forward = weightsAt(300, 400, pr);
  setLinearStreamFunction(0.0, -u);
  Weights reverse = weightsAt(300, 400, pr);
  EXPECT_EQ(reverse.e, forward.w);
  EXPECT_EQ(reverse.w, forward.e);
  EXPECT_EQ(reverse.s, kDiffusive);
  EXPECT_EQ(reverse.n, kDiffusive);
}

TEST(Weights, FlowAlongJFavoursTheUpstreamNeighbour) {
  // Psi = V*i*h: v = -V on the south and north faces, u = 0 exactly.
  resetState();
  const double v = 2.0, pr = 1.3;
  const double peclet = kStep * pr * v;
  setLinearStreamFunction(v, 0.0);  // flow towards -y: the north neighbour is upstream
  Weights down = weightsAt(300, 400, pr);
  EXPECT_EQ(down.w, kDiffusive);
  EXPECT_EQ(down.e, kDiffusive);
  EXPECT_NEAR(down.n, upstreamWeight(peclet), 1e-12 * kDiffusive);
  EXPECT_NEAR(down.s, downstreamWeight(peclet), 1e-12 * kDiffusive);

  setLinearStreamFunction(-v, 0.0);  // flow towards +y: the south neighbour is upstream
  Weights up = weightsAt(300, 400, pr);
  EXPECT_EQ(up.s, down.n);
  EXPECT_EQ(up.n, down.s);
  EXPECT_EQ(up.w, kDiffusive);
  EXPECT_EQ(up.e, kDiffusive);
}

TEST(Weights, StrongFlowDampsTheDiffusivePart) {
  // Cell Peclet number about 83: the diffusive part shrinks to about 1/42.7
  // of 1/h^2 on both sides and the upstream side carries the flux.
  resetState();
  const double u = 1e5, pr = 1.0;
  setLinearStreamFunction(0.0, u);
  const double peclet = kStep * pr * u;
  Weights a = weightsAt(450, 700, pr);
  EXPECT_NEAR(a.e, downstreamWeight(peclet), 1e-10 * a.e);
  EXPECT_NEAR(a.w, upstreamWeight(peclet), 1e-10 * a.w);
  EXPECT_LT(a.e, kDiffusive / 40);
}

TEST(Weights, CentreWeightIsTheSumInTheOrderWestSouthEastNorth) {
  resetState();
  fillRandom(Psi, 13, -1e-3, 1e-3);
  for (int i = 1; i < NX; i += 37)
    for (int j = 1; j < NY; j += 29) {
      Weights a = weightsAt(i, j, 0.71);
      ASSERT_TRUE(sameBits(a.p, ((a.w + a.s) + a.e) + a.n)) << i << ", " << j;
    }
}
