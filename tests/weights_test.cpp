// The convection-diffusion weights: pure diffusion without flow, the upwind
// side of a uniform flow along either axis with the damped diffusive part,
// the 3 x 3 block they read, and the centre weight as ((W + S) + E) + N.
#include "solver/weights.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

constexpr double kW = 1 / kStepSq;  // a weight without flow

// The weights W, S, E, N at (i, j) in units of kW; the centre weight must be
// their sum in that order.
std::array<double, 4> weights(int i, int j, double pr) {
  const double w = aW(i, j, pr), s = aS(i, j, pr), e = aE(i, j, pr), n = aN(i, j, pr);
  EXPECT_TRUE(sameBits(aP(i, j, pr), ((w + s) + e) + n)) << i << ", " << j;
  return {w / kW, s / kW, e / kW, n / kW};
}

}  // namespace

TEST(Weights, UpwindSideOfAUniformFlowAndDampedDiffusion) {
  resetState();
  EXPECT_EQ(weights(600, 1, 7.0), (std::array<double, 4>{1, 1, 1, 1}));
  EXPECT_EQ(aP(1, 919, 0.71), 5759999.999999999);
  // Psi = a*i*h + b*j*h: u = b along i, v = -a along j. Upstream of a face
  // with cell Peclet number P the weight is 1/(1 + P/2) + P, downstream 1/(1 + P/2).
  for (double u : {3.0, -3.0, 1e5}) {
    const double pr = 0.71, pe = kStep * pr * std::fabs(u), down = 1 / (1 + pe / 2), up = down + pe;
    for (auto [a, b] : {std::pair{0.0, u}, {u, 0.0}}) {
      for (int i = 0; i <= 1200; ++i)
        for (int j = 0; j <= 920; ++j) Psi[i][j] = a * i * kStep + b * j * kStep;
      for (auto [i, j] : {std::pair{1, 1}, {300, 919}, {600, 20}}) {
        auto w = weights(i, j, pr);
        const int upstream = b > 0 ? 0 : b < 0 ? 2 : a > 0 ? 3 : 1;  // W, E, N or S
        for (int k = 0; k < 4; ++k)
          EXPECT_NEAR(w[k],
                      k == upstream             ? up
                      : k == (upstream + 2) % 4 ? down
                                                : 1.0,
                      1e-12 * up)
              << "u " << u << " along " << (a == 0 ? "i" : "j") << ", weight " << k;
        EXPECT_EQ(weights(i, j, 0.0), (std::array<double, 4>{1, 1, 1, 1}));  // Pr = 0
      }
    }
  }
  // Flow everywhere but on the 3 x 3 block around (300, 400).
  fillRandom(Psi, 11, -1e-3, 1e-3);
  for (int i = 299; i <= 301; ++i)
    for (int j = 399; j <= 401; ++j) Psi[i][j] = 0.0;
  EXPECT_EQ(weights(300, 400, 0.71), (std::array<double, 4>{1, 1, 1, 1}));
  EXPECT_NE(weights(200, 400, 0.71)[0], 1.0);
}
