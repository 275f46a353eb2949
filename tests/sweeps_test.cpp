// The literal sweeps, the reference of the production kernels. What the two
// share (the band rows, the source node, the mirror rule, the relaxation
// weight) is checked here against values worked out by hand; everything
// else the kernels tests compare bit for bit.
#include <gtest/gtest.h>

#include "solver/sweeps_literal.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// Stream-function update from its five inputs, in the order of the Poisson step.
double poisson(double west, double east, double south, double north, double omega) {
  return (((south + north) / kStepSq + (west + east) / kStepSq) + omega) / kFourOverStepSq;
}

// Temperature update with Psi = 0 (every weight 1/h^2): south, west, east, north.
double mean(double south, double west, double east, double north) {
  constexpr double w = 1 / kStepSq, p = ((w + w) + w) + w;
  return (((w * south + w * west) + w * east) + w * north) / p;
}

void sweepTemperature() { literal::sweepTemperature(st, testCase()); }
void sweepVorticity() {
  double sums[4] = {};
  literal::sweepVorticity(st, testCase(), sums);
}
void sweepStreamFunction() { literal::sweepStreamFunction(st); }

}  // namespace

TEST(Sweeps, EachKeepsWallsAndSourceRewritesItsHalfAndMirrorsIt) {
  const struct {
    Field* field;
    int sign;
    void (*run)();
  } sweeps[] = {{&T, 1, sweepTemperature},
                {&Omega, -1, sweepVorticity},
                {&Psi, -1, sweepStreamFunction}};
  for (int threads : {1, 4})
    for (const auto& sweep : sweeps) {
      ThreadCount team(threads);
      fillRandom(Psi, 21, -1e-3, 1e-3);
      fillRandom(Omega, 22, -1.0, 1.0);
      fillRandom(T, 23, 0.0, 1.0);
      testCase().Gr = 1e4;
      testCase().Pr = 0.71;
      const FieldCopy old = copyOf(*sweep.field);
      sweep.run();
      const Field& f = *sweep.field;
      long faults = 0;
      for (int i = 0; i <= 1200; ++i)
        for (int j = 0; j <= 920; ++j) {
          const bool fixed = i == 0 || i == 1200 || j == 0 || j == 920 || (i == 600 && j == 20);
          const bool same = sameBits(f[i][j], old[std::size_t(i) * kCols + j]);
          faults += fixed ? !same : i <= 600 && same;
          faults += !fixed && i < 600 && !sameBits(f[1200 - i][j], sweep.sign * f[i][j]);
        }
      EXPECT_EQ(faults, 0) << "sweep " << &sweep - sweeps << ", threads " << threads;
    }
}

TEST(Sweeps, BandsRunInOrderEachReadingItsEdgeRowsAsOneThreadWould) {
  ThreadCount team(1);
  // One thread: row 150 (first of band 1) sees row 151 as it was, row 151
  // (last of band 2) the new row 150; likewise 300/301 and 450/451.
  for (int edge : {150, 300, 450}) Psi[edge + 1][500] = Omega[edge][400] = 1.0;
  Psi[100][800] = 1.0;  // an old value: the updates give it no weight
  sweepStreamFunction();
  const double p = poisson(0, 0, 0, 0, 1);
  for (int edge : {150, 300, 450}) {
    EXPECT_EQ(Psi[edge][500], poisson(0, 1, 0, 0, 0)) << edge;
    EXPECT_EQ(Psi[edge][401], poisson(0, 0, p, 0, 0)) << edge;  // the next column, later
    EXPECT_EQ(Psi[edge][399], 0.0) << edge;                     // the previous one, earlier
    EXPECT_EQ(Psi[edge + 1][400], poisson(p, 0, 0, 0, 0)) << edge;
    EXPECT_EQ(Psi[1200 - edge][400], -p) << edge;
  }
  const double q = poisson(1, 0, 0, 0, 0);  // its neighbours read it
  EXPECT_EQ(Psi[100][800], poisson(0, q, q, 0, 0));
}

TEST(Sweeps, AxisRowRunsOutwardsFromTheSourceBeforeTheRowBelowIt) {
  ThreadCount team(1);
  T[600][20] = testCase().Pr = 1.0;
  sweepTemperature();
  Psi[600][20] = 1.0;  // an artificial value, as the temperature's
  sweepStreamFunction();
  // The axis row goes 21 -> 919, then 19 -> 1, each half from the source;
  // row 599 comes after it.
  double psi[921] = {}, t[921] = {};
  psi[20] = t[20] = 1.0;
  for (int j = 21; j <= 919; ++j)
    psi[j] = poisson(0, 0, psi[j - 1], 0, 0), t[j] = mean(t[j - 1], 0, 0, 0);
  for (int j = 19; j >= 1; --j)
    psi[j] = poisson(0, 0, 0, psi[j + 1], 0), t[j] = mean(0, 0, 0, t[j + 1]);
  long faults = 0;
  for (int j = 0; j <= 920; ++j)
    faults += !sameBits(Psi[600][j], psi[j]) + !sameBits(T[600][j], t[j]);
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(Psi[599][1], poisson(0, psi[1], 0, 0, 0));
  EXPECT_EQ(T[601][1], mean(0, 0, t[1], 0));
}
