// The outer loop: the wall-vorticity rule, the source temperature, the
// stopping rule, the progress lines and the save schedule, on small
// schedules with a scripted step (it only sets omegaSqSum) and a save that
// records the iteration it follows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "run/outer_loop.h"
#include "solver/boundary.h"
#include "state/initial_state.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

TEST(WallVorticity, ThomRuleOnTheComputedHalfMirroredWithLeftRightCornersLast) {
  setInitialState(st, testCase() = Case{});  // every field and number zero
  fillRandom(Psi, 61, -1.0, 1.0);  // walls included, and not odd about the axis
  fillRandom(Omega, 62, -1.0, 1.0);
  const FieldCopy before = copyOf(Omega);
  applyWallVorticity(Omega, Psi);
  long faults = 0;
  for (int i = 0; i <= 1200; ++i)
    for (int j = 0; j <= 920; ++j) {
      const int m = std::min(i, 1200 - i), sign = i <= 600 ? 1 : -1;
      double want = before[std::size_t(i) * kCols + j];  // inner nodes keep theirs
      if (i == 0 || i == 1200)
        want = sign * (kWallFactor * Psi[1][j]);
      else if (j == 0 || j == 920)
        want = sign * (kWallFactor * Psi[m][j == 0 ? 1 : 919]);
      faults += !sameBits(Omega[i][j], want);
    }
  EXPECT_EQ(faults, 0);
}

namespace {

std::vector<double> gSums;  // omegaSqSum of iteration k; the last repeats
std::vector<int> gSaves;
int gSteps = 0, gStepFaults = 0;

// Checks what the loop must have set before the step, then spoils it.
void scriptedStep(State&) {
  gStepFaults += T[600][20] != 1.0 || Omega[0][5] != kWallFactor * Psi[1][5];
  T[600][20] = -3.0;
  Omega[0][5] = 99.0;
  st.omegaSqSum = gSums[std::min<std::size_t>(gSteps++, gSums.size() - 1)];
}

// Runs the loop, checks how it ended, the iterations run and the saves, and
// returns the console.
std::string runScripted(const LoopSchedule& schedule, std::vector<double> sums, RunEnd end,
                        int last, std::vector<int> saves) {
  setInitialState(st, testCase() = Case{});  // every field and number zero
  Psi[1][5] = 0.125;
  gSums = std::move(sums);
  gSteps = gStepFaults = 0;
  gSaves.clear();
  ::testing::internal::CaptureStdout();
  RunOutcome outcome =
      runIterations(schedule, {}, st, scriptedStep,
                    [](const SavePoint&) { gSaves.push_back(gSteps - 1); });
  EXPECT_TRUE(outcome.end == end && outcome.iteration == last && gSteps == last + 1)
      << int(outcome.end) << " at " << outcome.iteration << " after " << gSteps << " steps";
  EXPECT_EQ(gSaves, saves);
  EXPECT_EQ(gStepFaults, 0);
  return ::testing::internal::GetCapturedStdout();
}

std::string progress(int k, const char* residual) {
  return "Итерация = " + std::to_string(k) + "\tНевязка = " + residual + "\n";
}

std::string converged(int k) {
  return "Достигнут предел невязки!!\nКоличество итераций = " + std::to_string(k) + "\n";
}

}  // namespace

TEST(OuterLoop, ConvergesBelowTheLimitAndSavesOnTheSchedule) {
  // Residuals 10, 10, 0.5, 5e-8: converged in iteration 3. The counter then
  // jumps to the limit: a second save when that is a save point.
  const std::vector<double> sums = {10.0, 20.0, 20.5, 20.5 + 5e-8};
  EXPECT_EQ(runScripted({1000, 5, 2}, sums, RunEnd::Converged, 3, {0, 3, 3}),
            progress(0, "0") + progress(2, "10") + converged(3));
  runScripted({1001, 3, 2}, sums, RunEnd::Converged, 3, {0, 3});
  // A residual of exactly the limit goes on; iteration 0 compares with 0.
  EXPECT_EQ(runScripted({1000, 100, 1}, {1e-7, 1e-7}, RunEnd::Converged, 1, {0, 1, 1}),
            progress(0, "0") + progress(1, "1e-07") + converged(1));
  runScripted({1000, 100, 1}, {std::nextafter(1e-7, 0.0)}, RunEnd::Converged, 0, {0, 0});
}

TEST(OuterLoop, LimitReachedSavesTheLastIterationOnce) {
  const std::vector<double> sums = {1.5e-5, 1.5e-5 + 123456.7, 1.5e-5 + 123456.7 + 1e-3, 1e6};
  EXPECT_EQ(
      runScripted({4, 100, 1}, sums, RunEnd::Exhausted, 3, {0, 3}),
      progress(0, "0") + progress(1, "1.5e-05") + progress(2, "123457") + progress(3, "0.001"));
  std::vector<double> rising;  // residual 1 forever
  for (int k = 1; k <= 12; ++k) rising.push_back(k);
  EXPECT_EQ(runScripted({12, 5, 4}, rising, RunEnd::Exhausted, 11, {0, 5, 10, 11}),
            progress(0, "0") + progress(4, "1") + progress(8, "1"));
  runScripted({11, 5, 100}, rising, RunEnd::Exhausted, 10, {0, 5, 10});
}

TEST(OuterLoop, NonFiniteResidualStopsAsDivergedAfterSaving) {
  for (auto [sums, k] : {std::pair{std::vector<double>{NAN}, 0}, {{1, 2, 3, 4, 5, -INFINITY}, 5}})
    EXPECT_EQ(runScripted({1000, 5, 100}, sums, RunEnd::Diverged, k,
                          k ? std::vector{0, k} : std::vector{0}),
              progress(0, "0") +
                  "Расчет разошелся: невязка не является конечным числом на итерации " +
                  std::to_string(k) + "\n");
}
