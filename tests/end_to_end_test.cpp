// The real program in a scratch working directory: its exit statuses (0 for
// a complete run, 1 for a missing or malformed parameter file, 2 for a
// diverged run), its console text, the result files and the report file.
// Runs that converge at iteration 0 (Gr = 1) or diverge at once (Gr = 1e200)
// keep the cost to about a second each; they run on one thread so that the
// files can be compared with the same iteration computed here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "output/results.h"
#include "run/wall_vorticity.h"
#include "solver/sweeps_literal.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

const std::string kReport = "Отчет.txt";

// Every run here ends within seconds; a fault that makes it run on is cut
// short (status 124) instead of holding up the suite.
RunResult runPlume(const ScratchDir& dir, const std::string& env = "") {
  return runIn(dir.path, env + "OMP_NUM_THREADS=1 timeout 120 '" PLUME_BINARY "'");
}

std::vector<std::string> withParameterFile(std::vector<std::string> files) {
  files.push_back("Result/parametrs");
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> resultFiles(const std::string& grText) {
  std::vector<std::string> files;
  for (const char* folder : kResultFolders) files.push_back(resultPath(folder, grText));
  return files;
}

// The summary as the console shows it, with the seconds read from `console`
// (the run takes a few seconds at most, so the minutes are 0). Empty when the
// console has no summary of that form at its end.
std::string consoleSummary(const std::string& console, const std::string& grText,
                           const std::string& prText) {
  const std::string head = "Размерность сетки = 920*1200\nGr = " + grText + "\tPr = " + prText +
                           "\nПонадобилось времени: 0 минут,   ";
  const std::string tail = " секунд\n\n";
  std::size_t at = console.rfind(head);
  if (at == std::string::npos || !console.ends_with(tail)) return "";
  std::string seconds = console.substr(at + head.size(), console.size() - tail.size() - at - head.size());
  if (seconds.empty() || seconds.size() > 2 ||
      !std::all_of(seconds.begin(), seconds.end(), [](char c) { return std::isdigit(c) != 0; }))
    return "";
  return console.substr(at);
}

// The state the program holds after iteration `k` of a run with these
// parameters, computed here with the literal sweeps on one thread; the
// residual of that iteration through `residual`.
void stateAfterIteration(const ParameterValues& p, int k, double* residual = nullptr) {
  ThreadCount team(1);
  resetState();
  setInitialState(p);
  double previous = 0.0;
  for (int n = 0; n <= k; ++n) {
    previous = omegaSqSum;
    applyWallVorticity();
    T[srcI][srcJ] = 1.0;
    literal::iterationStep();
  }
  if (residual != nullptr) *residual = std::fabs(omegaSqSum - previous);
}

void expectResultFilesHoldTheState(const ScratchDir& dir, const std::string& grText, int skip = -1) {
  for (int k = 0; k < 5; ++k) {
    if (k == skip) continue;
    SCOPED_TRACE(kResultFolders[k]);
    EXPECT_TRUE(readFile(dir.path / resultPath(kResultFolders[k], grText)) == resultFileText(k))
        << "the file does not hold the state after the last iteration";
  }
}

}  // namespace

TEST(EndToEnd, MissingParameterFileEndsWithStatusOneAndWritesNothing) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "");
  std::filesystem::remove(dir.path / "Result" / "parametrs");
  RunResult r = runPlume(dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.starts_with("Не найден файл 'parametrs'!!!\n")) << r.output;
  EXPECT_NE(r.output.find("'Result/parametrs'"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("examples/"), std::string::npos) << r.output;
  EXPECT_EQ(filesBelow(dir.path), std::vector<std::string>{});
}

TEST(EndToEnd, MalformedParameterFilesEndWithStatusOneAndWriteNothing) {
  struct Case {
    const char* text;
    std::vector<const char*> named;
  };
  const Case cases[] = {
      {"", {"Gr"}},
      {"1e6 0.7 0 0 0\n", {"tRight"}},
      {"1e6 0,7 0 0 0 0\n", {"Pr", "0,7"}},
      {"1e6 0.7 zero 0 0 0\n", {"tBottom", "zero"}},
      {"1e400 0.71 0 0 0 0\n", {"Gr", "1e400"}},
      {"1e6 -0.71 0 0 0 0\n", {"Pr", "-0.71"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    ScratchDir dir;
    makeWorkingDir(dir.path, c.text);
    RunResult r = runPlume(dir);
    EXPECT_EQ(r.status, 1);
    auto lines = splitLines(r.output);
    ASSERT_EQ(lines.size(), 1u) << r.output;
    EXPECT_NE(r.output.find("Result/parametrs"), std::string::npos) << r.output;
    for (const char* piece : c.named) EXPECT_NE(r.output.find(piece), std::string::npos) << r.output;
    EXPECT_EQ(filesBelow(dir.path), withParameterFile({}));
  }
}

TEST(EndToEnd, GrOneConvergesAtIterationZero) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1 0.71 0 0 0 0\n");
  std::ofstream(dir.path / kReport, std::ios::binary) << std::string(1000, 'x');
  // A user's locale with a decimal comma changes no number.
  CommaLocale locale;
  RunResult r = runPlume(dir, locale.env());

  EXPECT_EQ(r.status, 0);
  const std::string summary = consoleSummary(r.output, "1", "0.71");
  ASSERT_FALSE(summary.empty()) << r.output;
  EXPECT_EQ(r.output,
            "Итерация = 0\tНевязка = 0\n"
            "Достигнут предел невязки!!\n"
            "Количество итераций = 0\n" +
                summary);

  std::vector<std::string> files = resultFiles("1");
  files.push_back(kReport);
  files.push_back("Result/251_301_5_150/checkpoint_Gr_1.bin");
  EXPECT_EQ(filesBelow(dir.path), withParameterFile(files));

  const std::string report = readFile(dir.path / kReport);
  EXPECT_EQ(report, toCp1251(summary));
  ASSERT_GE(report.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(report[0]), 0xD0);  // Р
  EXPECT_EQ(static_cast<unsigned char>(report[1]), 0xE0);  // а
  EXPECT_EQ(static_cast<unsigned char>(report[2]), 0xE7);  // з

  double residual = 0.0;
  stateAfterIteration({1.0, 0.71, 0.0, 0.0, 0.0, 0.0}, 0, &residual);
  EXPECT_LT(residual, 1e-7);
  expectResultFilesHoldTheState(dir, "1");
}

TEST(EndToEnd, DivergenceEndsWithStatusTwoAfterSavingAndReporting) {
  // Find the iteration whose residual is first not finite.
  const ParameterValues p{1e200, 0.71, 0.0, 0.0, 0.0, 0.0};
  int diverged = -1;
  for (int k = 0; k < 5 && diverged < 0; ++k) {
    double residual;
    stateAfterIteration(p, k, &residual);
    if (!std::isfinite(residual)) diverged = k;
  }
  ASSERT_GE(diverged, 0) << "Gr = 1e200 should diverge within a few iterations";

  ScratchDir dir;
  makeWorkingDir(dir.path, "1e200 0.71 0 0 0 0\n");
  RunResult r = runPlume(dir);
  EXPECT_EQ(r.status, 2);

  const std::string summary = consoleSummary(r.output, "1e+200", "0.71");
  ASSERT_FALSE(summary.empty()) << r.output;
  const std::string before = r.output.substr(0, r.output.size() - summary.size());
  auto lines = splitLines(before);
  ASSERT_EQ(lines.size(), 2u) << r.output;
  EXPECT_EQ(lines[0], "Итерация = 0\tНевязка = 0");
  const std::string number = " " + std::to_string(diverged);
  EXPECT_TRUE(lines[1].ends_with(number)) << "the message should end with the iteration: " << lines[1];

  std::vector<std::string> files = resultFiles("1e+200");
  files.push_back(kReport);
  if (diverged > 0) files.push_back("Result/251_301_5_150/checkpoint_Gr_1e+200.bin");
  EXPECT_EQ(filesBelow(dir.path), withParameterFile(files));
  EXPECT_EQ(readFile(dir.path / kReport), toCp1251(summary));
  expectResultFilesHoldTheState(dir, "1e+200");
}

TEST(EndToEnd, MissingResultFolderGivesAWarningAndTheRunGoesOn) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1 0.71 0 0 0 0\n");
  std::filesystem::remove(dir.path / "Result" / "251_301_5_150" / "Vx");
  RunResult r = runPlume(dir);
  EXPECT_EQ(r.status, 0);

  // Each save gives one warning line naming the file; apart from them the
  // console is that of a complete run.
  const std::string vx = resultPath("Vx", "1");
  std::string rest;
  int warnings = 0;
  for (std::string_view line : splitLines(r.output)) {
    if (line.find("Result/251_301_5_150/Vx") != std::string_view::npos) {
      ++warnings;
      continue;
    }
    rest.append(line);
    rest += '\n';
  }
  EXPECT_GE(warnings, 1) << r.output;
  const std::string summary = consoleSummary(r.output, "1", "0.71");
  ASSERT_FALSE(summary.empty()) << r.output;
  EXPECT_EQ(rest,
            "Итерация = 0\tНевязка = 0\n"
            "Достигнут предел невязки!!\n"
            "Количество итераций = 0\n" +
                summary);

  std::vector<std::string> files = resultFiles("1");
  files.erase(std::find(files.begin(), files.end(), vx));
  files.push_back(kReport);
  files.push_back("Result/251_301_5_150/checkpoint_Gr_1.bin");
  EXPECT_EQ(filesBelow(dir.path), withParameterFile(files));
  stateAfterIteration({1.0, 0.71, 0.0, 0.0, 0.0, 0.0}, 0);
  expectResultFilesHoldTheState(dir, "1", 4);
}
