// One iteration step: the order temperature -> vorticity -> stream function,
// omegaSqSum from this iteration's vorticity alone, and single-thread
// repeatability of the production step against the literal sweeps.

#include <gtest/gtest.h>

#include <cmath>

#include "run/wall_vorticity.h"
#include "solver/iteration_step.h"
#include "solver/sweeps_literal.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// The state at the start of an iteration: the wall vorticity and the source
// temperature set from the current fields.
void startIteration() {
  applyWallVorticity();
  T[srcI][srcJ] = 1.0;
}

// The initial state for Gr, Pr and zero wall temperatures, then `iterations`
// literal iterations, so the fields carry flow.
void stateAfter(double gr, double pr, int iterations) {
  resetState();
  setInitialState({gr, pr, 0.0, 0.0, 0.0, 0.0});
  for (int k = 0; k < iterations; ++k) {
    startIteration();
    literal::iterationStep();
  }
  startIteration();
}

}  // namespace

TEST(IterationStep, SweepsRunTemperatureThenVorticityThenStreamFunction) {
  ThreadCount team(1);
  stateAfter(1e5, 0.71, 0);
  iterationStep();
  // (599, 19) has no buoyancy from the initial T (T[600][19] = T[598][19] = 0)
  // and none of its neighbours' vorticity is set before it: it is non-zero
  // only because the vorticity sweep read this iteration's temperature.
  EXPECT_GT(T[600][19], T[598][19]);
  EXPECT_NE(Omega[599][19], 0.0);
  // The stream function starts from Psi = 0 and Omega = 0: it is non-zero
  // only because its sweep read this iteration's vorticity.
  EXPECT_NE(Psi[599][19], 0.0);
}

TEST(IterationStep, ProductionStepEqualsTheLiteralSweepsInOrderWithOneThread) {
  ThreadCount team(1);
  stateAfter(1e5, 0.71, 2);
  StateCopy start = saveState();

  iterationStep();
  fillMirrorHalf();
  StateCopy production = saveState();

  restoreState(start);
  double sums[4] = {0.0, 0.0, 0.0, 0.0};
  literal::sweepTemperature();
  literal::sweepVorticity(sums);
  const double expectedSum = ((sums[0] + sums[1]) + sums[2]) + sums[3];
  literal::sweepStreamFunction();

  std::string where;
  EXPECT_EQ(countDifferences(T, production.t, &where), 0) << "T " << where;
  EXPECT_EQ(countDifferences(Omega, production.omega, &where), 0) << "Omega " << where;
  EXPECT_EQ(countDifferences(Psi, production.psi, &where), 0) << "Psi " << where;
  EXPECT_TRUE(sameBits(production.omegaSqSum, expectedSum))
      << production.omegaSqSum << " vs " << expectedSum;
}

TEST(IterationStep, RepeatableWithOneThreadWhateverTheOldMeasure) {
  ThreadCount team(1);
  stateAfter(1e5, 0.71, 2);
  StateCopy start = saveState();

  omegaSqSum = 1e300;
  iterationStep();
  StateCopy first = saveState();

  restoreState(start);
  omegaSqSum = -5.0;
  iterationStep();

  std::string where;
  EXPECT_EQ(countDifferences(T, first.t, &where), 0) << where;
  EXPECT_EQ(countDifferences(Omega, first.omega, &where), 0) << where;
  EXPECT_EQ(countDifferences(Psi, first.psi, &where), 0) << where;
  EXPECT_TRUE(sameBits(omegaSqSum, first.omegaSqSum));
  EXPECT_GT(omegaSqSum, 0.0);
}

TEST(IterationStep, MeasureIsTheSumOfSquaredVorticity) {
  // The band sums cover rows 1..1199 and columns 1..919; the stream-function
  // sweep after them does not change the measure.
  stateAfter(1e5, 0.71, 2);
  iterationStep();
  fillMirrorHalf();
  double expected = 0.0;
  for (int i = 1; i < NX; ++i)
    for (int j = 1; j < NY; ++j) expected += Omega[i][j] * Omega[i][j];
  EXPECT_GT(expected, 0.0);
  EXPECT_NEAR(omegaSqSum, expected, 1e-12 * expected);
}

TEST(IterationStep, MeasureIsZeroWhenTheVorticityStaysZero) {
  // Gr = 0: the source heats the fluid but drives no flow.
  stateAfter(0.0, 0.71, 0);
  omegaSqSum = 123.0;
  iterationStep();
  EXPECT_EQ(omegaSqSum, 0.0);
  EXPECT_GT(T[600][21], 0.0);
}

TEST(IterationStep, NonFiniteVorticityMakesTheMeasureNaN) {
  stateAfter(1e5, 0.71, 0);
  Omega[300][500] = INFINITY;
  iterationStep();
  EXPECT_TRUE(std::isnan(omegaSqSum));
}
