// The literal sweeps, the reference of the production kernels, against values
// worked out here: walls and source kept, mirror rows, bands in order, the
// axis row outwards from the source, the buoyancy term and the band sums.
#include <gtest/gtest.h>

#include <string>

#include "solver/sweeps_literal.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

// Stream-function update from its five inputs, in the order of the Poisson step.
double poisson(double west, double east, double south, double north, double omega) {
  return (((south + north) / kStepSq + (west + east) / kStepSq) + omega) / kFourOverStepSq;
}

// With Psi = 0 every weight is 1/h^2: the temperature and vorticity updates
// add south, west, east, north and the buoyancy, then divide by the centre weight.
constexpr double kW = 1 / kStepSq, kP = ((kW + kW) + kW) + kW;
double mean(double south, double west, double east, double north, double buoyancy = 0.0) {
  return ((((kW * south + kW * west) + kW * east) + kW * north) + buoyancy) / kP;
}

double gSums[4];
void sweepVorticity() {
  for (double& s : gSums) s = 0.0;
  literal::sweepVorticity(gSums);
}

void randomState() {
  resetState();
  fillRandom(Psi, 21, -1e-3, 1e-3);
  fillRandom(Omega, 22, -1.0, 1.0);
  fillRandom(T, 23, 0.0, 1.0);
  Gr = 1e4;
  Pr = 0.71;
}

}  // namespace

TEST(Sweeps, EachKeepsWallsAndSourceRewritesItsHalfAndMirrorsIt) {
  const struct {
    Field* field;
    int sign;
    void (*run)();
  } sweeps[] = {{&T, 1, literal::sweepTemperature},
                {&Omega, -1, sweepVorticity},
                {&Psi, -1, literal::sweepStreamFunction}};
  for (int threads : {1, 4})
    for (const auto& sweep : sweeps) {
      ThreadCount team(threads);
      randomState();
      const StateCopy before = saveState();
      sweep.run();
      const Field& f = *sweep.field;
      const FieldCopy old = &f == &T ? before.t : &f == &Omega ? before.omega : before.psi;
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

TEST(Sweeps, BandsRunInOrderAndEachRowFromItsFirstColumn) {
  // One thread: row 150 (first of band 1) sees row 151 as it was, row 151
  // (last of band 2) the new row 150; likewise 300/301 and 450/451.
  ThreadCount team(1);
  for (int edge : {150, 300, 450}) {
    resetState();
    Psi[edge + 1][500] = 1.0;
    Omega[edge][400] = 1.0;
    literal::sweepStreamFunction();
    const double p = poisson(0, 0, 0, 0, 1);
    EXPECT_EQ(Psi[edge][500], poisson(0, 1, 0, 0, 0)) << edge;
    EXPECT_EQ(Psi[edge][401], poisson(0, 0, p, 0, 0)) << edge;  // the next column, later
    EXPECT_EQ(Psi[edge][399], 0.0) << edge;                     // the previous one, earlier
    EXPECT_EQ(Psi[edge + 1][400], poisson(p, 0, 0, 0, 0)) << edge;
    EXPECT_EQ(Psi[1200 - edge][400], -p) << edge;
  }
}

TEST(Sweeps, AxisRowRunsOutwardsFromTheSourceNode) {
  // T and (artificially) Psi 1 at the source: the axis row goes 21 -> 919,
  // then 19 -> 1, each half starting from the source.
  ThreadCount team(1);
  resetState();
  T[600][20] = 1.0;
  Pr = 0.71;
  literal::sweepTemperature();  // with Psi = 0 still
  Psi[600][20] = 1.0;
  literal::sweepStreamFunction();
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
  // Row 599, swept after the axis row, starts from the new values.
  EXPECT_EQ(Psi[599][1], poisson(0, psi[1], 0, 0, 0));
  EXPECT_EQ(T[601][1], mean(0, 0, t[1], 0));
}

TEST(Sweeps, BuoyancyFollowsTheTemperatureDifferenceAlongI) {
  // T = 1 at (101, 500) only; rows run downwards: 102, 101, 100.
  ThreadCount team(1);
  resetState();
  Gr = 2.0;
  T[101][500] = 1.0;
  T[601][700] = T[599][700] = 5.0;  // no buoyancy on the axis row when T is symmetric
  sweepVorticity();
  const double w102 = mean(0, 0, 0, 0, ((0.0 - 1.0) / kTwoStep) * 2.0);
  EXPECT_EQ(Omega[102][500], w102);
  EXPECT_EQ(Omega[101][500], mean(0, 0, w102, 0));
  EXPECT_EQ(Omega[100][500], mean(0, 0, Omega[101][500], 0, ((1.0 - 0.0) / kTwoStep) * 2.0));
  EXPECT_EQ(Omega[1098][500], -w102);
  EXPECT_EQ(Omega[103][500] + Omega[600][700], 0.0);
}

TEST(Sweeps, BandSumsAreTheSquaresOfTheirRowsAndMirrorRows) {
  for (int threads : {1, 4}) {
    ThreadCount team(threads);
    randomState();
    Omega[600][20] = 1e3;  // the source node never counts
    sweepVorticity();
    double want[4] = {};
    for (int i = 1; i < 1200; ++i)
      for (int j = 1; j < 920; ++j) {
        const int row = i <= 600 ? i : 1200 - i, band = (row - 1) / 150;
        if (i != 600 || j != 20) want[band] += Omega[i][j] * Omega[i][j];
      }
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(gSums[k], want[k], 1e-12 * want[k]) << "band " << k + 1;
  }
}
