// The real program in a scratch working directory: exit statuses 0, 1 and 2,
// its console text, the result files and the report file. Runs that converge
// at iteration 0 (Gr = 1) or diverge at once (Gr = 1e200) keep each to about
// a second; one thread, so the files can be compared with the same
// iterations computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "output/results.h"
#include "platform/text.h"
#include "run/outer_loop.h"
#include "solver/sweeps_literal.h"
#include "state/parameters.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume;
using namespace plume::testing;

namespace {

// Runs plume in `dir` on one thread; a fault that makes it go on is cut
// short (status 124).
RunResult runPlume(const ScratchDir& dir, const std::string& env = "") {
  return runIn(dir.path, env + "OMP_NUM_THREADS=1 timeout 120 '" PLUME_BINARY "'");
}

// The working directory holds the parameter file, the report, a checkpoint
// when `checkpoint`, and the result files but `missing`.
void expectFiles(const ScratchDir& dir, const std::string& gr, bool checkpoint,
                 const char* missing = "") {
  std::vector<std::string> files = {"Result/parametrs", "Отчет.txt"};
  if (checkpoint) files.push_back("Result/251_301_5_150/checkpoint_Gr_" + gr + ".bin");
  for (const char* folder : kResultFolders)
    if (std::string(folder) != missing) files.push_back(resultPath(folder, gr));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(filesBelow(dir.path), files);
}

// The console up to the summary, which must end it; the report file holds
// the summary in Windows-1251.
std::string beforeSummary(const ScratchDir& dir, const RunResult& r, const std::string& gr) {
  std::smatch m;
  const std::regex summary(
      "Размерность сетки = 920\\*1200\nGr = " + std::regex_replace(gr, std::regex("[+]"), "\\+") +
      "\tPr = 0.71\nПонадобилось времени: 0 минут,   [0-9]{1,2} секунд\n\n$");
  if (!std::regex_search(r.output, m, summary)) return "no summary at the end: " + r.output;
  const std::string report = readFile(dir.path / "Отчет.txt");
  EXPECT_TRUE(report.starts_with("\xD0\xE0\xE7") && cp1251ToUtf8(report) == m.str()) << report;
  return m.prefix().str();
}

// Runs the literal sweeps here from the initial state until the residual
// falls below the limit or is not finite (at most 5 iterations) and returns
// the last iteration; the result files must hold that state.
int expectFilesHoldTheLastIteration(const ScratchDir& dir, const ParameterValues& p,
                                    const std::string& gr, int skip = -1) {
  ThreadCount team(1);
  resetState();
  setInitialState(p);
  int k = 0;
  for (double previous = 0.0;; ++k, previous = omegaSqSum) {
    bareIteration(literal::iterationStep);
    const double residual = std::fabs(omegaSqSum - previous);
    if (residual < 1e-7 || !std::isfinite(residual) || k == 5) break;
  }
  for (int f = 0; f < 5; ++f)
    EXPECT_TRUE(f == skip ||
                readFile(dir.path / resultPath(kResultFolders[f], gr)) == resultFileText(f))
        << kResultFolders[f] << " is not the state after iteration " << k;
  return k;
}

}  // namespace

TEST(EndToEnd, MissingOrMalformedParameterFileEndsWithStatusOneAndWritesNothing) {
  for (auto [text, named] : {std::pair{"", "'Result/parametrs'"},
                             {"1e6 0.7 0 0 0\n", "tRight"},
                             {"1e6 0,7 0 0 0 0\n", "\"0,7\""}}) {
    ScratchDir dir;
    makeWorkingDir(dir.path, text);
    if (*text == 0) fs::remove(dir.path / "Result/parametrs");
    RunResult r = runPlume(dir);
    EXPECT_EQ(r.status, 1) << named;
    EXPECT_TRUE(r.output.find(named) != std::string::npos &&
                (*text ? r.output.starts_with("Ошибка в файле 'Result/parametrs': ") &&
                             r.output.find('\n') == r.output.size() - 1
                       : r.output.starts_with("Не найден файл 'parametrs'!!!\n")))
        << r.output;
    EXPECT_EQ(filesBelow(dir.path).size(), *text ? 1u : 0u) << named;
  }
}

TEST(EndToEnd, GrOneConvergesAtIterationZeroAndAMissingFolderOnlyWarns) {
  ScratchDir dir, locale;
  makeWorkingDir(dir.path, "1 0.71 0 0 0 0\n");
  fs::remove(dir.path / "Result/251_301_5_150/Vx");
  std::ofstream(dir.path / "Отчет.txt") << std::string(1000, 'x');  // a longer old report
  // A user's locale with a decimal comma changes no number: one compiled here.
  runIn(locale.path, "localedef -i de_DE -f UTF-8 ./de_DE.UTF-8 >/dev/null 2>&1");
  std::string env = "LOCPATH='" + locale.path.string() + "' LC_ALL=de_DE.UTF-8 ";
  if (runIn(locale.path, env + "/usr/bin/printf %.1f 0.5").output != "0,5")
    std::printf("note: no locale with a decimal comma could be made: run in the C locale\n"),
        env = "";
  RunResult r = runPlume(dir, env);
  EXPECT_EQ(r.status, 0);
  // One warning naming the file per save: at convergence, and again when the
  // iteration limit the counter jumps to is a save point.
  std::string warnings =
      "Предупреждение: не удалось записать файл '" + resultPath("Vx", "1") + "'\n";
  if (kSchedule.maxIterations % kSchedule.saveInterval == 0) warnings += warnings;
  const std::string console = beforeSummary(dir, r, "1");
  EXPECT_TRUE(console.starts_with("Предупреждение: нет папки 'Result/251_301_5_150/Vx'") &&
              console.ends_with("\nИтерация = 0\tНевязка = 0\nДостигнут предел невязки!!\n"
                                "Количество итераций = 0\n" +
                                warnings))
      << console;
  expectFiles(dir, "1", true, "Vx");
  EXPECT_EQ(expectFilesHoldTheLastIteration(dir, {1, 0.71, 0, 0, 0, 0}, "1", 4), 0);
}

TEST(EndToEnd, DivergenceEndsWithStatusTwoAfterSavingAndReporting) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1e200 0.71 0 0 0 0\n");
  RunResult r = runPlume(dir);
  EXPECT_EQ(r.status, 2);
  std::smatch m;
  const std::string console = beforeSummary(dir, r, "1e+200");
  ASSERT_TRUE(
      std::regex_match(console, m, std::regex("Итерация = 0\tНевязка = 0\n[^\n]* ([0-9]+)\n")))
      << console;
  // The iteration named is the first with a residual that is not finite; a
  // diverged state leaves no checkpoint, the save after iteration 0 one.
  const int k = std::stoi(m[1].str());
  EXPECT_EQ(expectFilesHoldTheLastIteration(dir, {1e200, 0.71, 0, 0, 0, 0}, "1e+200"), k);
  expectFiles(dir, "1e+200", k > 0);
}
