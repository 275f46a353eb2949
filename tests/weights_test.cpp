// The weights and node updates in moving flow, against values worked out by
// hand. Every other test of the weights compares one implementation with
// another, or runs where Psi = 0 and all four weights are equal; here each
// face has its own velocity, so a weight that reads a wrong stream-function
// node, takes the wrong upwind side or drops its damping gives a wrong value.
#include <gtest/gtest.h>

#include <cmath>

#include "solver/node_update.h"
#include "solver/weights.h"
#include "state/initial_state.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

constexpr int i = 300, j = 400;

// Psi around node (i, j), nine distinct values (rows i-1, i, i+1 left to
// right, columns j+1, j, j-1 top to bottom):
//
//        i-1  i   i+1
//   j+1   13  10  -25
//   j      2  17    8
//   j-1    1   6    3
//
// With Pr = 1/2 a face's Peclet number P = h*Pr*e is Pr/4 times its sum of
// four Psi values:
//   west  ((13 - 1) + 10) - 6 =  16: P =  2, flow towards +x
//   south ((1 - 3) + 2) - 8   =  -8: P = -1, flow towards -y
//   east  ((-25 - 3) + 10) - 6 = -24: P = -3, flow towards -x
//   north ((13 + 25) + 2) - 8 =  32: P =  4, flow towards +y
// Each weight is (1/(1 + |P|/2) + upwind part)/h^2, the upwind part being
// |P| where the neighbour lies upstream of its face (west and east here) and
// 0 where it lies downstream (south and north):
//   aW = (1/2 + 2)/h^2 = (5/2)/h^2        aS = 1/(3/2)/h^2 = (2/3)/h^2
//   aE = (2/5 + 3)/h^2 = (17/5)/h^2       aN = 1/3/h^2
//   aP = (5/2 + 2/3 + 17/5 + 1/3)/h^2 = (69/10)/h^2
void setMovingFlow() {
  setInitialState(st, testCase() = Case{});  // every field and number zero
  testCase().Pr = 0.5;
  const double psi[3][3] = {{1, 2, 13}, {6, 17, 10}, {3, 8, -25}};  // [i - 1 + di][j - 1 + dj]
  for (int di = 0; di < 3; ++di)
    for (int dj = 0; dj < 3; ++dj) Psi[i - 1 + di][j - 1 + dj] = psi[di][dj];
}

// Rounding in the face velocity, the damping and the division: a few ulps.
void expectNear(double got, double want) { EXPECT_NEAR(got, want, 1e-14 * std::abs(want)); }

}  // namespace

TEST(Weights, EachFaceTakesItsOwnVelocityAndUpwindSide) {
  setMovingFlow();
  expectNear(aW(Psi, i, j, testCase().Pr), (5.0 / 2) / kStepSq);
  expectNear(aS(Psi, i, j, testCase().Pr), (2.0 / 3) / kStepSq);
  expectNear(aE(Psi, i, j, testCase().Pr), (17.0 / 5) / kStepSq);
  expectNear(aN(Psi, i, j, testCase().Pr), (1.0 / 3) / kStepSq);
  expectNear(aP(Psi, i, j, testCase().Pr), (69.0 / 10) / kStepSq);
}

TEST(Weights, AStillFaceGivesExactlyTheDiffusiveWeight) {
  setMovingFlow();
  Psi[i][j + 1] = -6;  // west ((13 - 1) - 6) - 6 = 0: damping 1, no upwind part
  EXPECT_EQ(aW(Psi, i, j, testCase().Pr), 1 / kStepSq);
}

// The temperature at (i, j) from its neighbours west 2, south 3, east 5,
// north -6: (5/2*2 + 2/3*3 + 17/5*5 - 1/3*6) / (69/10) = 22*10/69.
TEST(NodeUpdate, TemperatureIsTheWeightedMeanOfItsNeighbours) {
  setMovingFlow();
  T[i - 1][j] = 2, T[i][j - 1] = 3, T[i + 1][j] = 5, T[i][j + 1] = -6;
  T[i][j] = 0.25;  // the old value has weight 0
  expectNear(temperatureUpdate(st, testCase(), i, j, plainGet), 220.0 / 69);
}

// The vorticity at (i, j) from its neighbours west 4, south -3, east 10,
// north 9 (5/2*4 - 2/3*3 + 17/5*10 + 1/3*9 = 45) and the buoyancy of T across
// the node, (5 - 2)/(2h) * Gr, which is 15/h^2 for Gr = 12000
// (3 * 600 * 12000 * h^2): (45 + 15) / (69/10) = 60*10/69.
TEST(NodeUpdate, VorticityAddsTheBuoyancyOfTheTemperatureAcrossTheNode) {
  setMovingFlow();
  testCase().Gr = 12000;
  T[i - 1][j] = 2, T[i][j - 1] = 3, T[i + 1][j] = 5, T[i][j + 1] = -6;
  Omega[i - 1][j] = 4, Omega[i][j - 1] = -3, Omega[i + 1][j] = 10, Omega[i][j + 1] = 9;
  expectNear(vorticityUpdate(st, testCase(), i, j, plainGet), 600.0 / 69);
}
