// The three literal sweeps and their band frame: values on small states that
// can be worked out by hand, the visiting order (bands, rows, the axis row
// around the source node), the mirror rule, the wall and source nodes that no
// sweep writes, the vorticity band sums, and non-finite values.

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <functional>
#include <string>

#include "solver/sweeps_literal.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

constexpr int kEdges[] = {150, 300, 450};  // first row of bands 1-3; the next row starts the next band

// Stream-function update from its five inputs, in the order of the Poisson step.
double poisson(double west, double east, double south, double north, double omega) {
  double a = (south + north) / kStepSq;
  double b = (west + east) / kStepSq;
  return ((a + b) + omega) / kFourOverStepSq;
}

// With Psi = 0 every weight is 1/h^2.
constexpr double kW = 1 / kStepSq;
constexpr double kP = ((kW + kW) + kW) + kW;

// Temperature update with all weights 1/h^2: south, west, east, north.
double laplaceMean(double south, double west, double east, double north) {
  return (((kW * south + kW * west) + kW * east) + kW * north) / kP;
}

struct Sweep {
  const char* name;
  Field* field;
  int mirrorSign;
  std::function<void()> run;
};

double gBandSums[4];

const Sweep kSweeps[] = {
    {"temperature", &T, +1, [] { literal::sweepTemperature(); }},
    {"vorticity", &Omega, -1, [] {
       for (double& s : gBandSums) s = 0.0;
       literal::sweepVorticity(gBandSums);
     }},
    {"stream function", &Psi, -1, [] { literal::sweepStreamFunction(); }},
};

// A state with flow, temperature and vorticity everywhere, the walls included.
void randomState() {
  resetState();
  fillRandom(Psi, 21, -1e-3, 1e-3);
  fillRandom(Omega, 22, -1.0, 1.0);
  fillRandom(T, 23, 0.0, 1.0);
  Gr = 1e4;
  Pr = 0.71;
}

// Checks the frame's rules on `sweep` after it ran from `before`: walls and
// source node unchanged, every other node of rows 1..600 rewritten, mirror
// rows equal to (sign x) their row, the other two fields untouched.
void expectFrameRules(const Sweep& sweep, const StateCopy& before) {
  const Field& f = *sweep.field;
  const FieldCopy& old = sweep.field == &T ? before.t : sweep.field == &Omega ? before.omega : before.psi;
  auto oldAt = [&](int i, int j) { return old[std::size_t(i) * kCols + j]; };
  long wallChanges = 0, notRewritten = 0, mirrorFaults = 0;
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      bool wall = i == 0 || i == NX || j == 0 || j == NY;
      bool source = i == 600 && j == 20;
      if (wall || source) {
        wallChanges += !sameBits(f[i][j], oldAt(i, j));
      } else if (i <= 600) {
        notRewritten += sameBits(f[i][j], oldAt(i, j));
      }
      if (!wall && i < 600)
        mirrorFaults += !sameBits(f[NX - i][j], sweep.mirrorSign * f[i][j]);
    }
  EXPECT_EQ(wallChanges, 0) << sweep.name << ": walls or source node written";
  EXPECT_EQ(notRewritten, 0) << sweep.name << ": nodes of rows 1..600 not swept";
  EXPECT_EQ(mirrorFaults, 0) << sweep.name << ": mirror rows differ";
  const std::pair<Field*, const FieldCopy*> fields[] = {
      {&Psi, &before.psi}, {&Omega, &before.omega}, {&T, &before.t}};
  for (auto [other, copy] : fields)
    if (other != sweep.field) {
      EXPECT_EQ(countDifferences(*other, *copy), 0) << sweep.name;
    }
}

long nonZeroNodes(const Field& f, int rowFrom, int rowTo) {
  long n = 0;
  for (int i = rowFrom; i <= rowTo; ++i)
    for (int j = 0; j <= NY; ++j) n += f[i][j] != 0.0;
  return n;
}

}  // namespace

// ---------------------------------------------------------------- frame ----

TEST(SweepFrame, EachSweepKeepsWallsAndSourceAndMirrorsItsRows) {
  for (int threads : {1, 4}) {
    ThreadCount team(threads);
    for (const Sweep& sweep : kSweeps) {
      SCOPED_TRACE(std::string(sweep.name) + ", threads " + std::to_string(threads));
      randomState();
      StateCopy before = saveState();
      sweep.run();
      expectFrameRules(sweep, before);
    }
  }
}

TEST(SweepFrame, BandsRunInOrderWithOneThread) {
  // Row 150 (first row of band 1) sees row 151 as it was before the sweep;
  // row 151 (last row of band 2) sees the new row 150. Likewise 300/301 and
  // 450/451.
  ThreadCount team(1);
  for (int edge : kEdges) {
    SCOPED_TRACE("band edge " + std::to_string(edge));
    resetState();
    Psi[edge + 1][500] = 1.0;
    literal::sweepStreamFunction();
    EXPECT_EQ(Psi[edge][500], poisson(0.0, 1.0, 0.0, 0.0, 0.0));

    resetState();
    Omega[edge][500] = 1.0;
    literal::sweepStreamFunction();
    const double p = poisson(0.0, 0.0, 0.0, 0.0, 1.0);
    EXPECT_EQ(Psi[edge][500], p);
    EXPECT_EQ(Psi[edge + 1][500], poisson(p, 0.0, 0.0, 0.0, 0.0));
  }
}

TEST(SweepFrame, AnyThreadCountSweepsEveryBandOnce) {
  // One vorticity node inside each band and on the axis row. What reaches a
  // band edge has decayed by many orders of magnitude, so the thread timing
  // there cannot matter at the tolerance below; a band skipped or swept twice
  // would.
  auto setUp = [] {
    resetState();
    for (int i : {75, 225, 375, 525}) Omega[i][460] = 1.0;
    Omega[600][700] = 1.0;
  };
  FieldCopy reference;
  {
    ThreadCount team(1);
    setUp();
    literal::sweepStreamFunction();
    reference = copyOf(Psi);
  }
  const double p = poisson(0.0, 0.0, 0.0, 0.0, 1.0);
  for (int threads : {2, 3, 4, 7}) {
    ThreadCount team(threads);
    setUp();
    literal::sweepStreamFunction();
    double worst = 0.0;
    for (int i = 0; i <= NX; ++i)
      for (int j = 0; j <= NY; ++j)
        worst = std::fmax(worst, std::fabs(Psi[i][j] - reference[std::size_t(i) * kCols + j]));
    EXPECT_LE(worst, 1e-20 * p) << threads << " threads";
    EXPECT_EQ(Psi[225][460], p);
    EXPECT_EQ(Psi[600][700], p);
  }
}

// ------------------------------------------------------- stream function ----

TEST(StreamFunctionSweep, ZeroStaysZeroWithNegativeZeroMirror) {
  ThreadCount team(1);
  resetState();
  literal::sweepStreamFunction();
  long faults = 0;
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      bool mirror = i > 600 && i < NX && j > 0 && j < NY;
      faults += Psi[i][j] != 0.0 || std::signbit(Psi[i][j]) != mirror;
    }
  EXPECT_EQ(faults, 0);
}

TEST(StreamFunctionSweep, SingleVorticityNode) {
  ThreadCount team(1);
  resetState();
  Omega[100][500] = 1.0;
  literal::sweepStreamFunction();

  const double p = poisson(0.0, 0.0, 0.0, 0.0, 1.0);
  EXPECT_EQ(p, 1.0 / (4 / (kStep * kStep)));
  EXPECT_NEAR(p, kStep * kStep / 4, 1e-15 * p);
  EXPECT_EQ(Psi[100][500], p);
  EXPECT_EQ(Psi[1100][500], -p);
  // Visited later in band 1: the next column and the next row down.
  const double east = poisson(0.0, 0.0, p, 0.0, 0.0);
  const double below = poisson(0.0, p, 0.0, 0.0, 0.0);
  EXPECT_EQ(Psi[100][501], east);
  EXPECT_EQ(Psi[99][500], below);
  EXPECT_NEAR(east, p / 4, 1e-15 * p);
  EXPECT_EQ(Psi[1100][501], -east);
  EXPECT_EQ(Psi[1101][500], -below);
  // Visited earlier: unchanged, and nothing reaches rows above 100 or the
  // other bands.
  EXPECT_EQ(Psi[100][499], 0.0);
  EXPECT_EQ(Psi[101][500], 0.0);
  EXPECT_EQ(nonZeroNodes(Psi, 101, 1099), 0);
  EXPECT_GT(nonZeroNodes(Psi, 1, 99), 0);
}

TEST(StreamFunctionSweep, AxisRowRunsOutwardsFromTheSourceNode) {
  // The source node holds 1 (an artificial value): the axis row goes
  // 21 -> 919, then 19 -> 1, and each half starts by reading the source node.
  ThreadCount team(1);
  resetState();
  Psi[600][20] = 1.0;
  literal::sweepStreamFunction();

  double expected[kCols] = {};
  expected[20] = 1.0;
  for (int j = 21; j <= 919; ++j) expected[j] = poisson(0.0, 0.0, expected[j - 1], 0.0, 0.0);
  for (int j = 19; j >= 1; --j) expected[j] = poisson(0.0, 0.0, 0.0, expected[j + 1], 0.0);
  long faults = 0;
  for (int j = 0; j <= NY; ++j) faults += !sameBits(Psi[600][j], expected[j]);
  EXPECT_EQ(faults, 0);
  EXPECT_GT(Psi[600][18], 0.0);
  // Row 599, swept after the axis row, starts from the new Psi[600][1].
  EXPECT_EQ(Psi[599][1], poisson(0.0, expected[1], 0.0, 0.0, 0.0));
  EXPECT_EQ(Psi[601][1], -Psi[599][1]);
}

// ----------------------------------------------------------- temperature ----

TEST(TemperatureSweep, FirstSweepSpreadsTheSourceAlongTheAxisRow) {
  // Psi = 0: every update is the mean of the four neighbours. Along the axis
  // row the heat goes outwards from the source node in both directions.
  ThreadCount team(1);
  resetState();
  Pr = 0.71;
  T[600][20] = 1.0;
  literal::sweepTemperature();

  double expected[kCols] = {};
  expected[20] = 1.0;
  for (int j = 21; j <= 919; ++j) expected[j] = laplaceMean(expected[j - 1], 0.0, 0.0, 0.0);
  for (int j = 19; j >= 1; --j) expected[j] = laplaceMean(0.0, 0.0, 0.0, expected[j + 1]);
  long faults = 0;
  for (int j = 0; j <= NY; ++j) faults += !sameBits(T[600][j], expected[j]);
  EXPECT_EQ(faults, 0);
  EXPECT_NEAR(T[600][21], 0.25, 1e-15);
  EXPECT_NEAR(T[600][19], 0.25, 1e-15);
  // The mirror of row 599 has the same sign.
  EXPECT_GT(T[599][20], 0.0);
  EXPECT_EQ(T[601][20], T[599][20]);
}

TEST(TemperatureSweep, ZeroPrandtlNumberIgnoresTheFlow) {
  ThreadCount team(1);
  auto sweepWith = [](bool flow, double pr) {
    resetState();
    fillRandom(T, 31, 0.0, 1.0);
    if (flow) fillRandom(Psi, 32, -1e-3, 1e-3);
    Pr = pr;
    literal::sweepTemperature();
    return copyOf(T);
  };
  FieldCopy still = sweepWith(false, 0.0);
  sweepWith(true, 0.0);
  EXPECT_EQ(countDifferences(T, still), 0);
  sweepWith(true, 0.71);
  EXPECT_GT(countDifferences(T, still), 0) << "the flow should matter when Pr > 0";
}

// ------------------------------------------------------------- vorticity ----

TEST(VorticitySweep, BuoyancyFollowsTheTemperatureDifferenceAlongI) {
  // T = 1 at (101, 500) only: (102, 500) sees T falling with i, (100, 500)
  // sees it rising. Rows run downwards, so 102, 101, 100 in that order.
  ThreadCount team(1);
  resetState();
  Gr = 2.0;
  Pr = 0.71;
  T[101][500] = 1.0;
  double sums[4] = {0, 0, 0, 0};
  literal::sweepVorticity(sums);

  auto vorticity = [](double south, double west, double east, double north, double dT) {
    double s = ((kW * south + kW * west) + kW * east) + kW * north;
    s = s + (dT / kTwoStep) * 2.0;
    return s / kP;
  };
  const double w102 = vorticity(0.0, 0.0, 0.0, 0.0, 0.0 - 1.0);
  const double w101 = vorticity(0.0, 0.0, w102, 0.0, 0.0 - 0.0);
  const double w100 = vorticity(0.0, 0.0, w101, 0.0, 1.0 - 0.0);
  EXPECT_EQ(Omega[102][500], w102);
  EXPECT_EQ(Omega[101][500], w101);
  EXPECT_EQ(Omega[100][500], w100);
  EXPECT_LT(w102, 0.0);
  EXPECT_GT(w100, 0.0);
  EXPECT_EQ(Omega[1098][500], -w102);
  EXPECT_EQ(Omega[103][500], 0.0);
}

TEST(VorticitySweep, AxisRowHasNoBuoyancy) {
  // Symmetric temperature: T[601] = T[599], so the axis row comes out the same
  // whatever Gr is; the ordinary rows do not.
  ThreadCount team(1);
  auto sweepWith = [](double gr) {
    resetState();
    fillRandom(T, 41, 0.0, 1.0);
    fillRandom(Omega, 42, -1.0, 1.0);
    fillRandom(Psi, 43, -1e-3, 1e-3);
    for (int i = 601; i < NX; ++i)
      for (int j = 0; j <= NY; ++j) {
        T[i][j] = T[NX - i][j];
        Omega[i][j] = -Omega[NX - i][j];
        Psi[i][j] = -Psi[NX - i][j];
      }
    Gr = gr;
    Pr = 0.71;
    double sums[4] = {0, 0, 0, 0};
    literal::sweepVorticity(sums);
  };
  sweepWith(0.0);
  double axis[kCols];
  for (int j = 0; j <= NY; ++j) axis[j] = Omega[600][j];
  double row599 = Omega[599][300];
  sweepWith(1e6);
  long faults = 0;
  for (int j = 0; j <= NY; ++j) faults += !sameBits(Omega[600][j], axis[j]);
  EXPECT_EQ(faults, 0);
  EXPECT_NE(Omega[599][300], row599);
}

TEST(VorticitySweep, ZeroGrashofNumberIgnoresTheTemperature) {
  ThreadCount team(1);
  auto sweepWith = [](std::uint64_t seed, double gr) {
    resetState();
    fillRandom(Omega, 51, -1.0, 1.0);
    fillRandom(Psi, 52, -1e-3, 1e-3);
    fillRandom(T, seed, 0.0, 1.0);
    Gr = gr;
    Pr = 0.71;
    double sums[4] = {0, 0, 0, 0};
    literal::sweepVorticity(sums);
    return copyOf(Omega);
  };
  FieldCopy first = sweepWith(53, 0.0);
  sweepWith(54, 0.0);
  EXPECT_EQ(countDifferences(Omega, first), 0);
  sweepWith(54, 10.0);
  EXPECT_GT(countDifferences(Omega, first), 0) << "T should matter when Gr != 0";
}

TEST(VorticitySweep, BandSumsAreSumsOfSquaresOverTheirRows) {
  // Each band adds the squares of its rows and of their mirror rows; the
  // source node never counts (it holds an artificial 1e3 here).
  for (int threads : {1, 4}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    ThreadCount team(threads);
    randomState();
    Omega[600][20] = 1e3;
    double sums[4] = {0, 0, 0, 0};
    literal::sweepVorticity(sums);

    double expected[4] = {0, 0, 0, 0};
    for (int i = 1; i < NX; ++i) {
      int row = i <= 600 ? i : NX - i;
      int band = row <= 150 ? 0 : row <= 300 ? 1 : row <= 450 ? 2 : 3;
      for (int j = 1; j < NY; ++j)
        if (!(i == 600 && j == 20)) expected[band] += Omega[i][j] * Omega[i][j];
    }
    double total = 0.0;
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(sums[k], expected[k], 1e-12 * expected[k]) << "band " << k + 1;
      total += expected[k];
    }
    EXPECT_NEAR(((sums[0] + sums[1]) + sums[2]) + sums[3], total, 1e-12 * total);
    EXPECT_EQ(Omega[600][20], 1e3);
  }
}

// ------------------------------------------------------ non-finite values ----

TEST(SweepNonFinite, NonFiniteOldValueComesOutNaN) {
  // The old value enters every update with weight 0, and 0 x inf is NaN.
  ThreadCount team(1);
  for (const Sweep& sweep : kSweeps) {
    for (double bad : {INFINITY, NAN}) {
      SCOPED_TRACE(std::string(sweep.name) + (std::isnan(bad) ? " NaN" : " inf"));
      resetState();
      Pr = 0.71;
      (*sweep.field)[300][500] = bad;
      sweep.run();
      EXPECT_TRUE(std::isnan((*sweep.field)[300][500]));
      EXPECT_TRUE(std::isnan((*sweep.field)[900][500]));
      EXPECT_EQ((*sweep.field)[300][498], 0.0);  // visited before, reads no NaN
    }
  }
  // The vorticity band sum of band 2 follows.
  EXPECT_TRUE(std::isnan(gBandSums[1]));
  EXPECT_EQ(gBandSums[0], 0.0);
}
