// plume-steady: its residual is one Jacobi-style application of the node
// updates to a whole state; its Jacobian agrees with finite differences of
// that residual; the program finds, checks and writes a small-Gr solution and
// reports a step budget that runs out.

#include <gtest/gtest.h>
#include <petscsys.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/text.h"
#include "solver/node_update.h"
#include "state/initial_state.h"
#include "steady/continuation.h"
#include "steady/forcing.h"
#include "steady/jacobian.h"
#include "steady/library_environment.h"
#include "steady/residual.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::steady;
using namespace plume::testing;

namespace {

using Nodes = std::vector<NodeValues>;

// Random unknowns in the fields (Psi small enough for moderate face Peclet
// numbers, so the weights are away from their kinks), copied out node by node.
Nodes randomState(std::uint64_t seed) {
  setInitialState(st, testCase() = Case{});  // every field and number zero
  testCase().Gr = 3e4;
  testCase().Pr = 0.71;
  fillRandom(T, seed, -1, 1);
  fillRandom(Omega, seed + 1, -50, 50);
  fillRandom(Psi, seed + 2, -2e-3, 2e-3);
  Nodes u(std::size_t(kUnknownRows) * kUnknownCols);
  for (int r = 0; r < kUnknownRows; ++r)
    for (int c = 0; c < kUnknownCols; ++c)
      u[std::size_t(r) * kUnknownCols + c] = {T[r + 1][c + 1], Omega[r + 1][c + 1], Psi[r + 1][c + 1]};
  // Walls: T as the initial state leaves them, Psi zero, Omega anything.
  for (int i = 0; i <= NX; ++i) T[i][0] = 0.25, T[i][NY] = -0.5, Psi[i][0] = Psi[i][NY] = 0;
  for (int j = 0; j <= NY; ++j) T[0][j] = 1, T[NX][j] = 0.3, Psi[0][j] = Psi[NX][j] = 0;
  return u;
}

void load(const Nodes& u) {
  std::vector<const NodeValues*> rows(kUnknownRows);
  for (int r = 0; r < kUnknownRows; ++r) rows[r] = &u[std::size_t(r) * kUnknownCols];
  testCase() = {3e4, 0.71, 1, 0.3, 0.25, -0.5};
  loadState(st, rows.data(), {0, 0, kUnknownRows, kUnknownCols});
}

NodeValues& at(Nodes& u, int i, int j) { return u[std::size_t(i - 1) * kUnknownCols + (j - 1)]; }

double component(const NodeValues& v, int f) { return f == 0 ? v.t : (f == 1 ? v.omega : v.psi); }
double& component(NodeValues& v, int f) { return f == 0 ? v.t : (f == 1 ? v.omega : v.psi); }

}  // namespace

TEST(SteadyResidual, IsOneJacobiApplicationOfTheNodeUpdates) {
  Nodes u = randomState(11);
  load(u);
  std::vector<NodeValues> r;
  for (int i = 1; i <= srcI; ++i)
    for (int j = 1; j < NY; ++j) r.push_back(nodeResidual({st, testCase()}, i, j, at(u, i, j)));

  // The same state completed here by the wall rule, the mirror rule and the
  // held source values, then every node updated from it at once.
  for (int i = 1; i <= srcI; ++i)
    for (int j = 1; j < NY; ++j) T[i][j] = at(u, i, j).t, Omega[i][j] = at(u, i, j).omega, Psi[i][j] = at(u, i, j).psi;
  T[srcI][srcJ] = 1, Omega[srcI][srcJ] = 0, Psi[srcI][srcJ] = 0;
  for (int j = 1; j < NY; ++j) T[601][j] = T[599][j], Omega[601][j] = -Omega[599][j], Psi[601][j] = -Psi[599][j];
  for (int i = 1; i <= srcI; ++i) Omega[i][0] = kWallFactor * Psi[i][1], Omega[i][NY] = kWallFactor * Psi[i][NY - 1];
  for (int j = 1; j < NY; ++j) Omega[0][j] = kWallFactor * Psi[1][j];
  std::size_t k = 0, differing = 0;
  for (int i = 1; i <= srcI; ++i)
    for (int j = 1; j < NY; ++j, ++k) {
      NodeValues own = at(u, i, j), want;
      if (i == srcI && j == srcJ)
        want = {own.t - 1, own.omega, own.psi};
      else
        want = {own.t - temperatureUpdate(st, testCase(), i, j, plainGet),
                own.omega - vorticityUpdate(st, testCase(), i, j, plainGet),
                own.psi - streamFunctionUpdate(st, i, j, plainGet)};
      for (int f = 0; f < 3; ++f) differing += !sameBits(component(r[k], f), component(want, f));
    }
  EXPECT_EQ(differing, 0u);
}

TEST(SteadyJacobian, AgreesWithFiniteDifferencesOfTheResidual) {
  // Corners, walls, the axis row beside the source, below the source, inside.
  const int nodes[][2] = {{1, 1}, {1, 919}, {300, 1}, {600, 19}, {600, 21}, {599, 20}, {600, 919}, {417, 333}};
  Nodes u = randomState(5);
  for (auto [i, j] : nodes) {
    for (int f = 0; f < 3; ++f) {
      load(u);
      std::vector<JacobianEntry> entries;
      jacobianRow({st, testCase()}, i, j, f, entries);
      std::map<std::tuple<int, int, int>, double> analytic;
      for (const JacobianEntry& e : entries) analytic[{e.i, e.j, e.field}] += e.value;
      // Every unknown of the 3 x 3 box, by central differences.
      for (int di = -1; di <= 1; ++di)
        for (int dj = -1; dj <= 1; ++dj)
          for (int g = 0; g < 3; ++g) {
            int ni = i + di, nj = j + dj;
            if (ni < 1 || ni > srcI || nj < 1 || nj >= NY) continue;
            double& x = component(at(u, ni, nj), g);
            // T and Omega enter linearly: a long step; Psi through the weights.
            const double x0 = x, step = g == 2 ? 1e-6 : 1e-2;
            x = x0 + step;
            load(u);
            double plus = component(nodeResidual({st, testCase()}, i, j, at(u, i, j)), f);
            x = x0 - step;
            load(u);
            double minus = component(nodeResidual({st, testCase()}, i, j, at(u, i, j)), f);
            x = x0;
            double fd = (plus - minus) / (2 * step);
            auto it = analytic.find({ni, nj, g});
            double a = it == analytic.end() ? 0.0 : it->second;
            const double scale[3] = {1, 50, 2e-3};  // of the rows' residuals: rounding noise
            EXPECT_NEAR(a, fd, 1e-6 * std::fabs(fd) + 1e-14 * scale[f] / step)
                << "row " << f << " at (" << i << ", " << j << "), unknown " << g << " at (" << ni << ", " << nj << ")";
          }
    }
  }
}

TEST(SteadyForcing, LinearSolvesFollowTheNewtonGainAndStopShortOfTheTarget) {
  EXPECT_EQ(linearTolerance(1.0, 10.5, 2e-11), 0.1);      // a stage's first step: loose
  EXPECT_EQ(linearTolerance(0.01, 0.1, 2e-11), 0.9 * std::pow(0.01, 1.618));  // the last gain
  // Near the target no tighter than a tenth of it: 0.1 * 2e-10 / 1e-7.
  EXPECT_DOUBLE_EQ(linearTolerance(1e-4, 1e-7, 2e-10), 2e-4);
}

TEST(SteadyForcing, ASmallGainIsTheRoundingFloorOnlyAfterATightLinearSolve) {
  const double norm = 5e4;  // the example's state: floor zone below 5e-5
  EXPECT_TRUE(atRoundingFloor(4e-11, 1e-10, 1e-10, norm));  // a few DBL_EPSILON of the norm
  // In the zone, gaining less than 10: the floor after a tight solve...
  EXPECT_TRUE(atRoundingFloor(1e-9, 2e-9, 1e-11, norm));
  // ...not after a loose one, nor with a good gain, nor above the zone.
  EXPECT_FALSE(atRoundingFloor(1.1e-5, 8.7e-5, 8.7e-6, norm));
  EXPECT_FALSE(atRoundingFloor(1e-9, 2e-8, 1e-12, norm));
  EXPECT_FALSE(atRoundingFloor(1e-4, 1.1e-4, 1e-12, norm));
}

TEST(SteadyForcing, FactorsAreRenewedWhenTheyGainLessThanAFactorTwoPerIteration) {
  EXPECT_FALSE(factorsWornOut(3, 0.9));   // too few iterations to judge
  EXPECT_FALSE(factorsWornOut(6, 1e-3));  // 0.32 per iteration
  EXPECT_TRUE(factorsWornOut(13, 0.07));  // 0.81 per iteration: seen at Gr 2e6
}

// Stages from Gr = 0 to 10^6: the first at 10^5, doubling after quick
// stages, halving after failed ones, never past the wanted Gr.
TEST(SteadyContinuation, StepsGrowAfterQuickStagesAndHalveAfterFailedOnes) {
  Continuation c = startContinuation(0, 1e6);
  EXPECT_EQ(c.gr, 1e5);
  ASSERT_TRUE(nextStage(c, true, 3));  // quick: 10^5 + 2 * 10^5
  EXPECT_EQ(c.gr, 3e5);
  ASSERT_TRUE(nextStage(c, true, 7));  // slow: the same step
  EXPECT_EQ(c.gr, 5e5);
  ASSERT_TRUE(nextStage(c, false, 12));  // failed: from 3e5, half the step
  EXPECT_EQ(c.accepted, 3e5);
  EXPECT_EQ(c.gr, 4e5);
  ASSERT_TRUE(nextStage(c, true, 2));  // 4e5 + 2e5
  ASSERT_TRUE(nextStage(c, true, 7));  // 6e5 + 2e5
  ASSERT_TRUE(nextStage(c, true, 2));  // 8e5 + 4e5 would pass 10^6
  EXPECT_EQ(c.gr, 1e6);
  EXPECT_EQ(c.step, 2e5);
}

// The secant start of a stage: evenly spaced in log|Gr| the weight is the
// ratio of the log steps; through zero or across signs, of the Gr steps.
TEST(SteadyContinuation, SecantStartIsInLogGrWhereItCanBe) {
  EXPECT_DOUBLE_EQ(extrapolationWeight(1e5, 1e6, 1e7), 1.0);
  EXPECT_NEAR(extrapolationWeight(1e6, 1e7, 1e7 * std::sqrt(10.0)), 0.5, 1e-14);
  EXPECT_DOUBLE_EQ(extrapolationWeight(-1e5, -1e6, -1e7), 1.0);
  EXPECT_EQ(extrapolationWeight(0, 1e5, 3e5), 2.0);       // from Gr 0: in Gr
  EXPECT_EQ(extrapolationWeight(-1e5, 1e5, 2e5), 0.5);    // across zero: in Gr
  EXPECT_EQ(extrapolationWeight(1e6, 2e6, 1e6), -1.0);    // back to the earlier one
  EXPECT_EQ(extrapolationWeight(2e6, 2e6, 3e6), 0.0);     // no secant through one Gr
}

TEST(SteadyContinuation, GoesStraightToNearbyGrAndGivesUpBelowAThousandthOfIt) {
  EXPECT_EQ(startContinuation(0, 2e5).gr, 2e5);
  EXPECT_EQ(startContinuation(0, -3e5).gr, -1e5);  // the sign of the wanted Gr
  // From a solved state: straight on within a factor 2, else a step of |from|.
  EXPECT_EQ(startContinuation(1e6, 1.9e6).gr, 1.9e6);
  Continuation far = startContinuation(1e6, 1e7);
  EXPECT_EQ(far.gr, 2e6);
  EXPECT_EQ(far.accepted, 1e6);
  Continuation down = startContinuation(1e7, 1e5);  // downwards: straight on
  EXPECT_EQ(down.gr, 1e5);
  // 2e5 halved 7 times is 1562.5 >= 10^3 (a thousandth of 10^6), 8 times not.
  Continuation c = startContinuation(0, 1e6);
  ASSERT_TRUE(nextStage(c, true, 3));
  for (int k = 0; k < 7; ++k) ASSERT_TRUE(nextStage(c, false, 12)) << k;
  EXPECT_FALSE(nextStage(c, false, 12));
}

// The program in a scratch working directory: a run that converges at small Gr
// and one whose step budget runs out before the first step.
RunResult runSteady(const ScratchDir& dir, const std::string& parameters, const std::string& args = "") {
  makeWorkingDir(dir.path, parameters);
  return runIn(dir.path, "OMP_NUM_THREADS=2 timeout 900 '" PLUME_STEADY_BINARY "' " + args);
}

TEST(SteadyProgram, FindsChecksAndWritesASmallGrSolution) {
  ScratchDir dir;
  RunResult r = runSteady(dir, "10 0.71 0 0 0 0\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Решение найдено за"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Достигнут предел невязки!!\nКоличество итераций = "), std::string::npos);
  for (const char* folder : kResultFolders) {
    std::string text = readFile(dir.path / resultPath(folder, "10"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), folder[1] == 0 ? 1201 * 921 : 1200 * 920)
        << folder;
  }
  std::string report = readFile(dir.path / "Отчет.txt");
  EXPECT_TRUE(report.starts_with(ru("Размерность сетки = 920*1200\nGr = 10\tPr = 0.71\n").str()));

  // plume continues from the checkpoint and its stopping rule passes at once.
  ASSERT_TRUE(std::filesystem::exists(dir.path / "Result/251_301_5_150/checkpoint_Gr_10.bin"));
  RunResult resumed = runIn(dir.path, "OMP_NUM_THREADS=2 timeout 300 '" PLUME_BINARY "' --resume");
  EXPECT_EQ(resumed.status, 0) << resumed.output;
  std::size_t at = resumed.output.find("Количество итераций = ");
  ASSERT_NE(at, std::string::npos) << resumed.output;
  EXPECT_LT(std::stoi(resumed.output.substr(at + std::strlen("Количество итераций = "))), 10);
}

TEST(SteadyProgram, ReportsAnExhaustedStepBudget) {
  ScratchDir dir;
  RunResult r = runSteady(dir, "1e5 0.71 0 0 0 0\n", "-steady_max_steps 0");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("Метод Ньютона не сошелся за 0 шагов; последняя невязка = 10.4735"),
            std::string::npos) << r.output;
  EXPECT_NE(r.output.find("НЕ сошедшееся решение"), std::string::npos);
  // The state written is the initial one: the temperature is zero but at the source.
  std::string t = readFile(dir.path / resultPath("T", "100000"));
  EXPECT_NE(t.find("601\t21\t1\n"), std::string::npos);
}

TEST(SteadyProgram, ABudgetSpentInContinuationWritesTheLastAcceptedState) {
  ScratchDir dir;
  RunResult r = runSteady(dir, "3e5 0.71 0 0 0 0\n", "-steady_max_steps 3");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("НЕ сошедшееся решение"), std::string::npos) << r.output;
  // Gr = 10^5's plume, not the initial state: warm right above the source.
  std::string t = readFile(dir.path / resultPath("T", "300000"));
  ASSERT_NE(t.find("601\t22\t"), std::string::npos);
  EXPECT_EQ(t.find("601\t22\t0\n"), std::string::npos);
}

// A number of the summary's JSON text by its key.
double summaryNumber(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  EXPECT_NE(at, std::string::npos) << key;
  return at == std::string::npos ? NAN : std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

TEST(SteadyProgram, TheExampleSolutionClosesItsHeatBalance) {
  // The scheme is conservative: at the fixed point the heat leaving the
  // source is the heat the walls take, to rounding.
  ScratchDir dir;
  const auto example = std::filesystem::path(__FILE__).parent_path().parent_path() / "examples/Result/parametrs";
  RunResult r = runSteady(dir, readFile(example));
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string json = readFile(dir.path / "Result/251_301_5_150/summary_Gr_100000.json");
  EXPECT_NE(json.find("\"verified\": true,"), std::string::npos) << json;
  const double source = summaryNumber(json, "q_source"), balance = summaryNumber(json, "balance");
  EXPECT_GT(source, 0.0);
  EXPECT_LE(std::fabs(balance), 1e-9 * std::fabs(source)) << json;
  // Both halves: the mirror half is filled before the summary is made.
  EXPECT_EQ(summaryNumber(json, "q_left"), summaryNumber(json, "q_right"));
  EXPECT_EQ(summaryNumber(json, "psi_max"), -summaryNumber(json, "psi_min"));
  // The plume carries heat away from the source: more than conduction alone.
  EXPECT_GT(summaryNumber(json, "nu"), 1.0) << json;
  const std::string axis = readFile(dir.path / "Result/251_301_5_150/axis_Gr_100000.csv");
  EXPECT_NE(axis.find("\n0.016666666666666666,1,"), std::string::npos);  // the source, j = 20
}

// The fields as a checkpoint stores them: T, Omega, Psi of rows 0 .. 600,
// 921 doubles each, from byte 120 (the build machine is little-endian).
std::vector<double> checkpointFields(const std::filesystem::path& file) {
  const std::string c = readFile(file);
  std::vector<double> v(3 * 601 * 921);
  if (c.size() == 120 + v.size() * 8 + 4) std::memcpy(v.data(), c.data() + 120, v.size() * 8);
  else ADD_FAILURE() << file << ": " << c.size() << " bytes";
  return v;
}

// Pr multiplies the convection of T and of Omega alike, so a solution depends
// on Gr*Pr alone: with Omega' = Pr*Omega and Psi' = Pr*Psi (velocities Pr
// times as large) the equations for (Gr, Pr) become those for (Gr*Pr, 1).
// So (2e4, 1/2) and (1e4, 1) have the same T, and Omega and Psi of the first
// are twice those of the second, up to where the two Newton solves stop (the
// development machine: T 1.1e-14, Omega 1.7e-12, Psi 1.9e-13 of each field's
// largest value).
TEST(SteadyProgram, SolutionDependsOnGrTimesPrAlone) {
  ScratchDir a, b;
  ASSERT_EQ(runSteady(a, "2e4 0.5 0 0 0 0\n").status, 0);
  ASSERT_EQ(runSteady(b, "1e4 1 0 0 0 0\n").status, 0);
  const std::vector<double> fa = checkpointFields(a.path / "Result/251_301_5_150/checkpoint_Gr_20000.bin");
  const std::vector<double> fb = checkpointFields(b.path / "Result/251_301_5_150/checkpoint_Gr_10000.bin");
  const std::size_t n = 601 * 921;
  const char* names[] = {"T", "Omega", "Psi"};
  for (int f = 0; f < 3; ++f) {
    const double scale = f == 0 ? 1 : 0.5;
    double largest = 0, deviation = 0;
    for (std::size_t k = f * n; k < (f + 1) * n; ++k) {
      largest = std::max(largest, std::fabs(fb[k]));
      deviation = std::max(deviation, std::fabs(scale * fa[k] - fb[k]));
    }
    std::printf("%s: largest %.6g, deviation %.2g of it\n", names[f], largest, deviation / largest);
    EXPECT_GT(largest, 0) << names[f];
    EXPECT_LE(deviation, 1e-11 * largest) << names[f];
  }
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  PetscInitializeNoArguments();
  int status = RUN_ALL_TESTS();
  PetscFinalize();
  return status;
}

TEST(SteadyLibraries, BriefSpinOnlyWhereTheUserSetNeitherWaitVariable) {
  using Set = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(libraryEnvironment([](const char*) { return false; }),
            (Set{{"OMP_WAIT_POLICY", "passive"}, {"GOMP_SPINCOUNT", "2000"}}));
  for (const char* mine : {"OMP_WAIT_POLICY", "GOMP_SPINCOUNT"})
    EXPECT_TRUE(libraryEnvironment([mine](const char* n) { return std::strcmp(n, mine) == 0; }).empty())
        << mine;
}
