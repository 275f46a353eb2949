// plume-steady's command line and sweeps: the arguments it takes itself, the
// points of a sweep and the rows of sweep.csv; options refused before any
// work; a sweep stopped and run again, and one that cannot reach its point.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "steady/arguments.h"
#include "steady/sweep_plan.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::steady;
using namespace plume::testing;

namespace {

Arguments parse(std::vector<std::string> words) {
  static std::vector<std::string> kept;
  kept = std::move(words);
  kept.insert(kept.begin(), "plume-steady");
  static std::vector<char*> argv;
  argv.clear();
  for (std::string& w : kept) argv.push_back(w.data());
  return parseArguments(static_cast<int>(argv.size()), argv.data());
}

using Mode = Arguments::Mode;

}  // namespace

TEST(SteadyArguments, SweepTakesThreeValuesAndLeavesTheRestToPetsc) {
  Arguments a = parse({"-steady_max_steps", "5", "--sweep", "1e5", "+1e8", "16", "-log_view"});
  ASSERT_EQ(a.mode, Mode::Sweep);
  EXPECT_EQ(a.sweep.from, 1e5);
  EXPECT_EQ(a.sweep.to, 1e8);
  EXPECT_EQ(a.sweep.count, 16);
  ASSERT_EQ(a.petscArgs.size(), 4u);
  EXPECT_STREQ(a.petscArgs[1], "-steady_max_steps");
  EXPECT_STREQ(a.petscArgs[3], "-log_view");
  EXPECT_EQ(parse({"-snes_monitor"}).mode, Mode::Single);
  for (const char* help : {"--help", "-help", "-h"})
    EXPECT_EQ(parse({"--sweep", "1", "2", "3", help}).mode, Mode::Help) << help;
}

TEST(SteadyArguments, ABadSweepIsNamed) {
  const std::vector<std::vector<std::string>> bad = {
      {"--sweep", "1e5", "1e8"},       {"--sweep", "1e5", "1e8", "0"},
      {"--sweep", "0", "1e8", "3"},    {"--sweep", "-1e5", "1e8", "3"},
      {"--sweep", "1e5", "x", "3"},    {"--sweep", "1e5", "1e8", "2.5"},
      {"--sweep", "1e5", "1e8", "3x"}, {"--sweep", "1e5", "2e5", "1"},
      {"--sweep", "inf", "1e8", "3"},  {"--sweep", "1", "2", "3", "--sweep", "1", "2", "3"}};
  for (const auto& words : bad) {
    Arguments a = parse(words);
    EXPECT_EQ(a.mode, Mode::Bad) << words[1] << " " << (words.size() > 3 ? words[3] : "");
    EXPECT_FALSE(a.fault.empty());
  }
  EXPECT_EQ(parse({"--sweep", "-5", "-5", "1"}).mode, Mode::Sweep);
}

TEST(SteadySweepPlan, PointsAreEvenInLogGrWithTheEndsAsGivenAndSixDigitsBetween) {
  std::vector<double> p = sweepPoints({1e5, 1e8, 16});
  ASSERT_EQ(p.size(), 16u);
  EXPECT_EQ(p.front(), 1e5);
  EXPECT_EQ(p.back(), 1e8);
  EXPECT_EQ(p[1], 158489);   // 10^5.2 = 158489.3
  EXPECT_EQ(p[5], 1e6);
  EXPECT_EQ(p[13], 39810700);  // 10^7.6 = 39810717.06
  std::vector<double> down = sweepPoints({-1000, -10, 3});
  EXPECT_EQ(down, (std::vector<double>{-1000, -100, -10}));
  EXPECT_EQ(sweepPoints({1.23456e5, 1.23457e5, 3}).size(), 0u);  // names would repeat
  EXPECT_EQ(sweepPoints({7, 7, 1}), std::vector<double>{7});
}

TEST(SteadySweepPlan, EachPointStartsFromTheNearestFinishedOne) {
  std::vector<bool> finished = {true, true, false, false, false, true, false};
  EXPECT_EQ(nearestFinished(finished, 2), 1);
  EXPECT_EQ(nearestFinished(finished, 3), 1);  // as near as point 5: the earlier
  EXPECT_EQ(nearestFinished(finished, 4), 5);
  EXPECT_EQ(nearestFinished(finished, 6), 5);
  EXPECT_EQ(nearestFinished({false, false}, 0), -1);
}

TEST(SteadySweepPlan, RowsReadBackToTheSameCaseAndStatus) {
  SweepRow row{{158489.3, 0.71, -0.0, 0.1, 1e-300, -2.5}, "verified", 7, 12.34, {}, {}};
  row.quantities[0] = 0.1;
  row.quantities[11] = 2686531842.0791016;
  const std::string line = sweepCsvLine(row);
  EXPECT_EQ(line, "158489.3,0.71,-0,0.1,1e-300,-2.5,verified,7,12.3,0.1,,,,,,,,,,,2686531842.0791016,,,,,");
  EXPECT_FALSE(rowHasStability(line));
  EXPECT_EQ(std::count(line.begin(), line.end(), ','),
            std::count(kSweepHeader, kSweepHeader + std::strlen(kSweepHeader), ','));
  std::optional<RowKey> key = readRowKey(line);
  ASSERT_TRUE(key);
  EXPECT_TRUE(sameCase(key->c, row.c));
  EXPECT_EQ(key->status, "verified");
  EXPECT_FALSE(sameCase(key->c, {158489.3, 0.71, 0.0, 0.1, 1e-300, -2.5}));  // -0 is not 0
  EXPECT_FALSE(readRowKey(kSweepHeader));
  EXPECT_FALSE(readRowKey("1,2,3"));
}

TEST(SteadySweepPlan, StabilityColumnsFollowTheOldOnesAndOldRowsArePaddedToThem) {
  SweepRow row{{1e5, 0.71, 0, 0, 0, 0}, "verified", 4, 1.0, {}, StabilityFacts{false, 0.5, 0, -28.25, NAN}};
  const std::string line = sweepCsvLine(row);
  EXPECT_TRUE(line.ends_with(",verified,4,1.0,,,,,,,,,,,,,0,0.5,0,-28.25,")) << line;
  EXPECT_TRUE(rowHasStability(line));
  ASSERT_TRUE(readRowKey(line));
  EXPECT_EQ(readRowKey(line)->status, "verified");
  // A row written before the stability columns: its 21 columns stay, five empty ones follow.
  const std::string old = "10,0.71,0,0,0,0,verified,3,2.0,0.1,,,,,,,,,,,5";
  EXPECT_EQ(paddedRow(old), old + ",,,,,");
  EXPECT_FALSE(rowHasStability(old));
  EXPECT_FALSE(rowHasStability(paddedRow(old)));
  EXPECT_EQ(paddedRow(line), line);
  EXPECT_EQ(std::count(line.begin(), line.end(), ','),
            std::count(kSweepHeader, kSweepHeader + std::strlen(kSweepHeader), ','));
}

namespace {

RunResult runSteadyIn(const std::filesystem::path& dir, const std::string& args) {
  return runIn(dir, "OMP_NUM_THREADS=2 timeout 900 '" PLUME_STEADY_BINARY "' " + args);
}

// The rows of sweep.csv without the seconds column.
std::vector<std::string> rowsWithoutSeconds(const std::filesystem::path& dir) {
  std::istringstream in(readFile(dir / "Result/251_301_5_150/sweep.csv"));
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::istringstream cellsIn(line);
    for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
    if (cells.size() > 8) cells.erase(cells.begin() + 8);
    std::string joined;
    for (const std::string& c : cells) joined += c + ",";
    rows.push_back(joined);
  }
  return rows;
}

}  // namespace

TEST(SteadyOptions, HelpAndBadArgumentsAnswerAtOnceUnreadOptionsAreRefusedBeforeSolving) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "10 0.71 0 0 0 0\n", false);
  for (const char* help : {"--help", "-help", "-h"}) {
    RunResult r = runSteadyIn(dir.path, help);
    EXPECT_EQ(r.status, 0) << help;
    for (const char* option : {"--sweep FROM TO N", "-steady_max_steps", "-steady_lu_view",
                               "-steady_lu_blr", "petsc.org"})
      EXPECT_NE(r.output.find(option), std::string::npos) << help << " " << option;
  }
  RunResult bad = runSteadyIn(dir.path, "--sweep 1e5 -1e8 16");
  EXPECT_EQ(bad.status, 64);
  EXPECT_TRUE(bad.output.starts_with("FROM и TO должны быть одного знака\nИспользование:"))
      << bad.output;
  RunResult typo = runSteadyIn(dir.path, "-steady_max_step 3");
  EXPECT_EQ(typo.status, 64);
  EXPECT_NE(typo.output.find("Неизвестные параметры"), std::string::npos) << typo.output;
  EXPECT_NE(typo.output.find(" -steady_max_step\n"), std::string::npos) << typo.output;
  EXPECT_EQ(typo.output.find("Шаг Ньютона"), std::string::npos) << typo.output;
  EXPECT_EQ(filesBelow(dir.path / "Result/251_301_5_150").size(), 0u);  // folders made, empty

  // A file where a result folder must be: refused before any work.
  ScratchDir blocked;
  makeWorkingDir(blocked.path, "10 0.71 0 0 0 0\n", false);
  std::filesystem::create_directories(blocked.path / "Result/251_301_5_150");
  std::ofstream(blocked.path / "Result/251_301_5_150/V") << "a file";
  RunResult r = runSteadyIn(blocked.path, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.starts_with("Папку 'Result/251_301_5_150/V' не удалось создать")) << r.output;
}

TEST(SteadySweep, AStoppedSweepRunAgainComputesOnlyTheRestAndWritesTheSameRows) {
  ScratchDir whole, stopped;
  makeWorkingDir(whole.path, "1e4 0.71 0 0 0 0\n");
  makeWorkingDir(stopped.path, "1e4 0.71 0 0 0 0\n", false);
  RunResult all = runSteadyIn(whole.path, "--sweep 10 1000 3");
  ASSERT_EQ(all.status, 0) << all.output;
  EXPECT_NE(all.output.find("Gr из него (10000) не используется"), std::string::npos) << all.output;
  for (const char* line : {"Точка 1/3: Gr = 10, ", "Точка 2/3: Gr = 100, ", "Точка 3/3: Gr = 1000, "})
    EXPECT_NE(all.output.find(line), std::string::npos) << line;
  for (const char* gr : {"10", "100", "1000"}) {
    for (const char* f : kResultFolders)
      EXPECT_TRUE(std::filesystem::exists(whole.path / resultPath(f, gr))) << f << " " << gr;
    EXPECT_TRUE(std::filesystem::exists(whole.path / ("Result/251_301_5_150/checkpoint_Gr_" +
                                                      std::string(gr) + ".bin")));
    EXPECT_TRUE(std::filesystem::exists(whole.path / ("Result/251_301_5_150/summary_Gr_" +
                                                      std::string(gr) + ".json")));
  }

  // Killed once the second point's line is out; run again, one point is left.
  RunResult first = runIn(stopped.path,
      "(OMP_NUM_THREADS=2 '" PLUME_STEADY_BINARY "' --sweep 10 1000 3 > console.out 2>&1 & p=$!; "
      "until grep -q 'Точка 2/3' console.out || ! kill -0 $p 2>/dev/null; do sleep 0.05; done; "
      "kill -KILL $p; wait $p; cat console.out)");
  ASSERT_NE(first.output.find("Точка 2/3"), std::string::npos) << first.output;
  ASSERT_EQ(first.output.find("Точка 3/3"), std::string::npos) << first.output;
  RunResult again = runSteadyIn(stopped.path, "--sweep 10 1000 3");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_NE(again.output.find("Уже рассчитано ранее"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find(": 2 точек"), std::string::npos) << again.output;
  EXPECT_EQ(again.output.find("Точка 1/3"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("Точка 3/3"), std::string::npos) << again.output;
  std::vector<std::string> rows = rowsWithoutSeconds(stopped.path);
  EXPECT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows, rowsWithoutSeconds(whole.path));

  // A point out of reach of the step budget: its row says failed, the rows
  // before stay, the status is 2 and the last Gr reached is named.
  RunResult failed = runSteadyIn(stopped.path, "--sweep 10 1e6 2 -steady_max_steps 3");
  EXPECT_EQ(failed.status, 2) << failed.output;
  EXPECT_NE(failed.output.find("не достигнута: продолжение дошло до Gr = "), std::string::npos)
      << failed.output;
  std::vector<std::string> after = rowsWithoutSeconds(stopped.path);
  ASSERT_EQ(after.size(), 5u);
  EXPECT_TRUE(std::equal(rows.begin(), rows.end(), after.begin()));
  EXPECT_TRUE(after[4].starts_with("1e+06,0.71,0,0,0,0,failed,3,")) << after[4];
}
