// The outer loop: the wall-vorticity rule, the source temperature, the
// stopping rule, the progress lines and the save schedule. The loop runs on
// small schedules with a scripted step (it only sets omegaSqSum) and a save
// that records the iteration it follows.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "run/outer_loop.h"
#include "run/wall_vorticity.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

// ------------------------------------------------------- wall vorticity ----

TEST(WallVorticity, ThomRuleWithMirroredWallsAndLeftRightCorners) {
  resetState();
  fillRandom(Psi, 61, -1.0, 1.0);  // walls included, and not odd about the axis
  fillRandom(Omega, 62, -1.0, 1.0);
  FieldCopy omegaBefore = copyOf(Omega);
  FieldCopy psiBefore = copyOf(Psi);
  applyWallVorticity();

  EXPECT_EQ(kWallFactor, -2879999.9999999995);
  long faults = 0;
  // Lower and upper walls of the computed half and their mirror rows.
  for (int i = 1; i < 600; ++i) {
    faults += !sameBits(Omega[i][0], kWallFactor * Psi[i][1]);
    faults += !sameBits(Omega[i][920], kWallFactor * Psi[i][919]);
    faults += !sameBits(Omega[1200 - i][0], -Omega[i][0]);
    faults += !sameBits(Omega[1200 - i][920], -Omega[i][920]);
  }
  EXPECT_EQ(faults, 0);
  // The axis row is its own mirror: not negated.
  EXPECT_EQ(Omega[600][0], kWallFactor * Psi[600][1]);
  EXPECT_EQ(Omega[600][920], kWallFactor * Psi[600][919]);
  // Left and right walls, corners included, come last.
  faults = 0;
  for (int j = 0; j <= 920; ++j) {
    faults += !sameBits(Omega[0][j], kWallFactor * Psi[1][j]);
    faults += !sameBits(Omega[1200][j], -Omega[0][j]);
  }
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(Omega[0][0], kWallFactor * Psi[1][0]);
  EXPECT_EQ(Omega[1200][920], -(kWallFactor * Psi[1][920]));
  // Nothing else is written.
  faults = 0;
  for (int i = 1; i < 1200; ++i)
    for (int j = 1; j < 920; ++j)
      faults += !sameBits(Omega[i][j], omegaBefore[std::size_t(i) * kCols + j]);
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(countDifferences(Psi, psiBefore), 0);
}

// ------------------------------------------------------------ the loop ----

namespace {

// Scripted omegaSqSum for iteration k; the last value repeats.
std::vector<double> gSums;
int gSteps = 0;
std::vector<int> gSaves;
long gStepFaults = 0;

constexpr int kProbeJ = 5;

// The fake step checks what the loop must have set before it, then spoils
// it, so the loop has to set it again for the next iteration.
void scriptedStep() {
  if (T[600][20] != 1.0) ++gStepFaults;
  if (Omega[0][kProbeJ] != kWallFactor * Psi[1][kProbeJ]) ++gStepFaults;
  T[600][20] = -3.0;
  Omega[0][kProbeJ] = 99.0;
  omegaSqSum = gSums[std::min<std::size_t>(gSteps, gSums.size() - 1)];
  ++gSteps;
}

void recordingSave() { gSaves.push_back(gSteps - 1); }

struct LoopRun {
  RunOutcome outcome;
  std::string console;
};

LoopRun runScripted(const LoopSchedule& schedule, std::vector<double> sums) {
  resetState();
  Psi[1][kProbeJ] = 0.125;
  gSums = std::move(sums);
  gSteps = 0;
  gSaves.clear();
  gStepFaults = 0;
  ::testing::internal::CaptureStdout();
  RunOutcome outcome = runIterationsWith(schedule, scriptedStep, recordingSave);
  return {outcome, ::testing::internal::GetCapturedStdout()};
}

std::string progressLine(int k, double residual) {
  return "Итерация = " + std::to_string(k) + "\tНевязка = " + cFormat("%g", residual) + "\n";
}

const std::string kConverged = "Достигнут предел невязки!!\n";

std::string iterationCount(int k) { return "Количество итераций = " + std::to_string(k) + "\n"; }

// Sums 1, 2, 3, ...: the residual is always 1.
std::vector<double> neverConverging(int n) {
  std::vector<double> s;
  for (int k = 1; k <= n; ++k) s.push_back(k);
  return s;
}

}  // namespace

TEST(OuterLoop, ConvergesWhenTheResidualFallsBelowTheLimit) {
  // Residuals 10, 10, 0.5, 5e-8: the test holds in iteration 3. The limit is
  // a multiple of the save interval, so the files are written twice.
  LoopRun run = runScripted({1000, 5, 2}, {10.0, 20.0, 20.5, 20.5 + 5e-8});
  EXPECT_EQ(run.outcome.end, RunEnd::Converged);
  EXPECT_EQ(run.outcome.iteration, 3);
  EXPECT_EQ(gSteps, 4);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 3, 3}));
  EXPECT_EQ(run.console, progressLine(0, 0.0) + progressLine(2, 10.0) + kConverged + iterationCount(3));
  EXPECT_EQ(gStepFaults, 0);
}

TEST(OuterLoop, SingleSaveAtConvergenceWhenTheLimitIsNoMultipleOfTheSaveInterval) {
  LoopRun run = runScripted({1001, 5, 2}, {10.0, 20.0, 20.5, 20.5 + 5e-8});
  EXPECT_EQ(run.outcome.end, RunEnd::Converged);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 3}));
}

TEST(OuterLoop, ConvergenceOnASavePointFollowsTheCounterAfterTheTest) {
  // Converging in iteration 5 sets the counter to the limit before the
  // periodic save is considered: two saves with limit 1000, one with 1001.
  std::vector<double> sums = {1, 2, 3, 4, 5, 5};
  runScripted({1000, 5, 100}, sums);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 5, 5}));
  LoopRun run = runScripted({1001, 5, 100}, sums);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 5}));
  EXPECT_EQ(run.outcome.iteration, 5);
}

TEST(OuterLoop, ResidualOfExactlyTheLimitDoesNotStop) {
  // Iteration 0 compares with 0.0, so its residual is its own measure.
  LoopRun exact = runScripted({1000, 100, 1}, {1e-7, 1e-7});
  EXPECT_EQ(exact.outcome.end, RunEnd::Converged);
  EXPECT_EQ(exact.outcome.iteration, 1);
  EXPECT_EQ(exact.console, progressLine(0, 0.0) + progressLine(1, 1e-7) + kConverged + iterationCount(1));

  LoopRun below = runScripted({1000, 100, 1}, {std::nextafter(1e-7, 0.0)});
  EXPECT_EQ(below.outcome.end, RunEnd::Converged);
  EXPECT_EQ(below.outcome.iteration, 0);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 0}));
  EXPECT_EQ(below.console, progressLine(0, 0.0) + kConverged + iterationCount(0));
}

TEST(OuterLoop, ProgressLinesShowThePreviousResidual) {
  const std::vector<double> sums = {1.5e-5, 1.5e-5 + 123456.7, (1.5e-5 + 123456.7) + 1e-3, 1e6};
  LoopRun run = runScripted({4, 100, 1}, sums);
  EXPECT_EQ(run.console, progressLine(0, 0.0) + progressLine(1, sums[0]) +
                             progressLine(2, std::fabs(sums[1] - sums[0])) +
                             progressLine(3, std::fabs(sums[2] - sums[1])));
  for (const char* shown : {"\tНевязка = 1.5e-05\n", "\tНевязка = 123457\n", "\tНевязка = 0.001\n"})
    EXPECT_NE(run.console.find(shown), std::string::npos) << shown << " in\n" << run.console;
}

TEST(OuterLoop, LimitReachedWithoutConvergenceSavesTheLastIteration) {
  LoopRun run = runScripted({12, 5, 4}, neverConverging(12));
  EXPECT_EQ(run.outcome.end, RunEnd::Exhausted);
  EXPECT_EQ(run.outcome.iteration, 11);
  EXPECT_EQ(gSteps, 12);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 5, 10, 11}));
  EXPECT_EQ(run.console, progressLine(0, 0.0) + progressLine(4, 1.0) + progressLine(8, 1.0));
  EXPECT_EQ(gStepFaults, 0);
}

TEST(OuterLoop, NoSecondSaveWhenTheLastIterationWasASavePoint) {
  LoopRun run = runScripted({11, 5, 100}, neverConverging(11));
  EXPECT_EQ(run.outcome.end, RunEnd::Exhausted);
  EXPECT_EQ(run.outcome.iteration, 10);
  EXPECT_EQ(gSteps, 11);
  EXPECT_EQ(gSaves, (std::vector<int>{0, 5, 10}));
}

TEST(OuterLoop, NonFiniteResidualStopsAsDivergedAfterSaving) {
  struct Case {
    const char* name;
    std::vector<double> sums;
    int iteration;
    std::vector<int> saves;
  };
  const Case cases[] = {
      {"NaN in iteration 2", {1.0, 2.0, NAN, 3.0}, 2, {0, 2}},
      {"inf in iteration 1", {1.0, INFINITY, 2.0}, 1, {0, 1}},
      {"-inf in iteration 3", {1.0, 2.0, 3.0, -INFINITY}, 3, {0, 3}},
      {"NaN in iteration 0", {NAN}, 0, {0}},
      {"NaN on a save point", {1, 2, 3, 4, 5, NAN}, 5, {0, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopRun run = runScripted({1000, 5, 100}, c.sums);
    EXPECT_EQ(run.outcome.end, RunEnd::Diverged);
    EXPECT_EQ(run.outcome.iteration, c.iteration);
    EXPECT_EQ(gSteps, c.iteration + 1);
    EXPECT_EQ(gSaves, c.saves);
    // One message after the progress line, ending with the iteration number.
    std::vector<std::string_view> lines = splitLines(run.console);
    ASSERT_EQ(lines.size(), 2u) << run.console;
    EXPECT_TRUE(run.console.starts_with(progressLine(0, 0.0))) << run.console;
    const std::string number = std::to_string(c.iteration);
    const std::string_view message = lines[1];
    EXPECT_TRUE(message.size() > number.size() && message.ends_with(number) &&
                message[message.size() - number.size() - 1] == ' ')
        << message;
    EXPECT_EQ(run.console.find("Достигнут"), std::string::npos);
  }
}
