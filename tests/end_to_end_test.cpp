// The real program in a scratch working directory: exit statuses, console,
// result, checkpoint and report files, refused parameter files, and runs
// interrupted by SIGINT / SIGTERM, also with a second signal during the save
// and with a console pipe whose reader is gone. Runs that converge at
// iteration 0 (Gr = 1) or diverge at once (Gr = 1e200) keep the cost down;
// one thread, so the files can be compared with the same iterations here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "output/results.h"
#include "output/summary_files.h"
#include "platform/text.h"
#include "run/outer_loop.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "state/initial_state.h"
#include "state/parameters.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume;
using namespace plume::testing;

namespace {

// A shell step: wait until `condition` holds or plume has ended.
std::string until(const std::string& condition) {
  return "until " + condition + " || [ -e ../status ]; do sleep 0.02; done; ";
}
// The Vx file is the last of a save; each appears whole, by renaming.
const std::string kSaved = until("[ -e " + resultPath("Vx", "100000") + " ]");
std::string shown(const std::string& text) { return until("grep -q '" + text + "' ../out"); }

// Runs `before`, then plume on one thread in `dir`/run (made with
// `parameters`) with its console in ../out, or in a pipe when `pipe`, and
// `steps` in a shell beside it ($p its process id); kills it if it has not
// ended five minutes later.
RunResult runPlume(const ScratchDir& dir, const std::string& parameters,
                   const std::string& before = "", const std::string& steps = "",
                   bool pipe = false) {
  makeWorkingDir(dir.path / "run", parameters);
  const std::string out = pipe ? "mkfifo ../pipe; " + before + "(" : before + "(";
  runIn(dir.path / "run",
        out + "OMP_NUM_THREADS=1 sh -c 'echo $$ > ../pid; exec \"" PLUME_BINARY "\"' > ../" +
            (pipe ? "pipe" : "out") + "; echo $? > ../status) & " +
            (pipe ? "exec 3<../pipe; " : "") +
            "until [ -s ../pid ]; do sleep 0.01; done; p=$(cat ../pid); " + steps + "i=0; " +
            until("[ $i -ge 15000 ] && kill -KILL $p; i=$((i+1)); false") + "wait");
  const std::string status = readFile(dir.path / "status");
  return {status.empty() ? -1 : std::stoi(status), readFile(dir.path / "out")};
}

// The console up to the summary, which must end it; the report file holds
// the summary in Windows-1251.
std::string beforeSummary(const fs::path& run, const RunResult& r, const std::string& gr) {
  std::smatch m;
  const std::regex summary(
      "Размерность сетки = 920\\*1200\nGr = " + std::regex_replace(gr, std::regex("[+]"), "\\+") +
      "\tPr = 0.71"
      "\nПонадобилось времени: 0 минут,   [0-9]{1,2} секунд\n\n$");
  if (!std::regex_search(r.output, m, summary)) return "no summary at the end: " + r.output;
  const std::string report = readFile(run / "Отчет.txt");
  EXPECT_TRUE(report.starts_with("\xD0\xE0\xE7") && cp1251ToUtf8(report) == m.str()) << report;
  return m.prefix().str();
}

// `run` holds the parameter file, the report, a checkpoint when
// `checkpoint`, and the result files but the folder `missing`; these hold
// the state after iteration `last` computed here, or, when `last` is -1,
// after the iteration where the loop's stopping rule ends (returned).
int expectFiles(const fs::path& run, const Case& p, const std::string& gr,
                bool checkpoint, int last = -1, const std::string& missing = "") {
  std::vector<std::string> files = {"Result/parametrs", "Отчет.txt"};
  if (checkpoint) files.push_back("Result/251_301_5_150/checkpoint_Gr_" + gr + ".bin");
  files.push_back("Result/251_301_5_150/summary_Gr_" + gr + ".json");
  files.push_back("Result/251_301_5_150/axis_Gr_" + gr + ".csv");
  for (const char* folder : kResultFolders)
    if (folder != missing) files.push_back(resultPath(folder, gr));
  std::sort(files.begin(), files.end());
  EXPECT_EQ(filesBelow(run), files);
  ThreadCount team(1);
  setInitialState(st, testCase() = p);
  int k = 0;
  bool converged = false;
  for (double previous = 0.0;; ++k, previous = st.omegaSqSum) {
    bareIteration(st, [&](State& s) { iterationStep(s, testCase(), testWorkspace()); });
    const double residual = std::fabs(st.omegaSqSum - previous);
    converged = residual < 1e-7;
    if (k == last || (last < 0 && (converged || !std::isfinite(residual) || k == 5))) break;
  }
  mirrorHalf(T, Omega, Psi);
  for (int f = 0; f < 5; ++f)
    EXPECT_TRUE(kResultFolders[f] == missing ||
                readFile(run / resultPath(kResultFolders[f], gr)) == resultFileText(st, f))
        << kResultFolders[f] << " is not the state after iteration " << k;
  // The summary names the iteration plume printed and whether its rule passed.
  EXPECT_EQ(readFile(run / summaryPath(p.Gr)),
            summaryJson(p, {"iterations", k, converged, st.omegaSqSum}, computeDerived(T, Psi, p)));
  EXPECT_EQ(readFile(run / axisPath(p.Gr)), axisCsv(T, Psi));
  return k;
}

// Whole: every line there, the last for the grid's last node, nothing after it.
void expectWholeResultFiles(const fs::path& run) {
  const char* const lastLines[5] = {"\n1201\t921\t", "\n1201\t921\t", "\n1201\t921\t",
                                    "\n1200\t921\t", "\n1201\t920\t"};
  for (int k = 0; k < 5; ++k) {
    std::string text = readFile(run / resultPath(kResultFolders[k], "100000"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), k < 3 ? 1201 * 921 : 1200 * 920);
    EXPECT_TRUE(text.ends_with("\n") &&
                text.substr(text.rfind('\n', text.size() - 2)).starts_with(lastLines[k]))
        << kResultFolders[k];
  }
}

const char* const kExample = "100000 0.71 0 0 0 0\n";

void expectCompleteInterruptedRun(const ScratchDir& dir, const RunResult& r, int status) {
  EXPECT_EQ(r.status, status) << r.output;
  std::smatch m;
  const std::string console = beforeSummary(dir.path / "run", r, "100000");
  ASSERT_TRUE(std::regex_search(
      console, m,
      std::regex("\nРасчет прерван сигналом, сохраняются результаты итерации ([0-9]+)\n$")))
      << r.output;
  const int k = std::stoi(m[1].str());
  EXPECT_NE(console.find("Итерация = " + std::to_string(k / 100 * 100) + "\t"), std::string::npos);
  expectFiles(dir.path / "run", {1e5, 0.71, 0, 0, 0, 0}, "100000", true, k);
}

}  // namespace

TEST(EndToEnd, MissingOrMalformedParameterFileEndsWithStatusOneAndWritesNothing) {
  for (auto [text, named] : {std::pair{"", "'Result/parametrs'"},
                             {"1e6 0.7 0 0 0\n", "tRight"},
                             {"1e6 0,7 0 0 0 0\n", "\"0,7\""}}) {
    ScratchDir dir;
    RunResult r = runPlume(dir, text, *text ? "" : "rm Result/parametrs; ");
    EXPECT_EQ(r.status, 1) << named;
    EXPECT_TRUE(r.output.find(named) != std::string::npos &&
                (*text ? r.output.starts_with("Ошибка в файле 'Result/parametrs': ") &&
                             r.output.find('\n') == r.output.size() - 1
                       : r.output.starts_with("Не найден файл 'parametrs'!!!\n")))
        << r.output;
    EXPECT_EQ(filesBelow(dir.path / "run").size(), *text ? 1u : 0u) << named;
  }
}

const std::string kConvergedAtZero =
    "Итерация = 0\tНевязка = 0\nДостигнут предел невязки!!\nКоличество итераций = 0\n";

TEST(EndToEnd, GrOneConvergesAtIterationZeroWithTheSameNumbersInADecimalCommaLocale) {
  // The locale is compiled here; the console and files are compared with
  // those of the C locale.
  ScratchDir dir;
  const std::string locale = "LOCPATH=.. LC_ALL=de_DE.UTF-8 ";
  RunResult r = runPlume(dir, "1 0.71 0 0 0 0\n",
                         "localedef -i de_DE -f UTF-8 ../de_DE.UTF-8 >/dev/null 2>&1; " + locale +
                             "/usr/bin/printf %.1f 0.5 | grep -q 0,5 || echo no comma locale >&2; "
                             "export " + locale + "; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(beforeSummary(dir.path / "run", r, "1"), kConvergedAtZero);
  EXPECT_EQ(expectFiles(dir.path / "run", {1, 0.71, 0, 0, 0, 0}, "1", true), 0);
}

TEST(EndToEnd, OldReportAndResultFilesAreReplacedByRenamingNewOnes) {
  // The old report and T file, longer, keep their text through hard links.
  ScratchDir dir;
  RunResult r = runPlume(dir, "1 0.71 0 0 0 0\n",
                         "printf %100000s > Отчет.txt; ln Отчет.txt ../report; cp Отчет.txt " +
                             resultPath("T", "1") + "; ln " + resultPath("T", "1") + " ../T; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(expectFiles(dir.path / "run", {1, 0.71, 0, 0, 0, 0}, "1", true), 0);
  EXPECT_TRUE(readFile(dir.path / "report").size() == 100000 &&
              readFile(dir.path / "T").size() == 100000);
}

TEST(EndToEnd, AFileNotSavedIsNamedAtEachSaveAndEndsTheRunWithStatusFour) {
  // A folder in the Vx file's place makes its save fail.
  ScratchDir dir;
  RunResult r = runPlume(dir, "1 0.71 0 0 0 0\n", "mkdir " + resultPath("Vx", "1") + "; ");
  EXPECT_EQ(r.status, 4);
  // One warning per save: at convergence, and again when the iteration
  // limit the counter jumps to is a save point.
  std::string warnings =
      "Предупреждение: не удалось записать файл '" + resultPath("Vx", "1") + "'\n";
  if (kSchedule.maxIterations % kSchedule.saveInterval == 0) warnings += warnings;
  const std::string console = beforeSummary(dir.path / "run", r, "1");
  EXPECT_EQ(console, kConvergedAtZero + warnings);
  EXPECT_EQ(expectFiles(dir.path / "run", {1, 0.71, 0, 0, 0, 0}, "1", true, -1, "Vx"), 0);
}

TEST(EndToEnd, DivergenceEndsWithStatusTwoAfterSavingAndReporting) {
  ScratchDir dir;
  RunResult r = runPlume(dir, "1e200 0.71 0 0 0 0\n");
  EXPECT_EQ(r.status, 2);
  std::smatch m;
  const std::string console = beforeSummary(dir.path / "run", r, "1e+200");
  ASSERT_TRUE(
      std::regex_match(console, m, std::regex("Итерация = 0\tНевязка = 0\n[^\n]* ([0-9]+)\n")))
      << console;
  // The iteration named is the first with a residual that is not finite; a
  // diverged state leaves no checkpoint, the save after iteration 0 one.
  const int k = std::stoi(m[1].str());
  EXPECT_EQ(expectFiles(dir.path / "run", {1e200, 0.71, 0, 0, 0, 0}, "1e+200", k > 0), k);
}

TEST(Interrupt, SigintDuringTheFirstIterationSavesItAndExits130) {
  ScratchDir dir;
  expectCompleteInterruptedRun(
      dir, runPlume(dir, kExample, "", shown("Итерация = 0") + "kill -INT $p; "), 130);
}

TEST(Interrupt, SigtermAfterTheFirstSaveSavesTheCurrentIterationAndExits143) {
  ScratchDir dir;
  expectCompleteInterruptedRun(dir, runPlume(dir, kExample, "", kSaved + "kill -TERM $p; "), 143);
}

TEST(Interrupt, SecondSignalDuringTheSaveEndsAtOnceAndKeepsTheFilesWhole) {
  // The message comes just before the save, which takes far longer than
  // seeing it and sending the second signal. Each file is then the one of
  // iteration 0 or a complete new one; a cut-off copy may only be a .tmp file.
  ScratchDir dir;
  RunResult r =
      runPlume(dir, kExample, "",
               kSaved + "mkdir ../old; cp -R Result ../old; kill -INT $p; " + shown("прерван") +
                   "kill -INT $p; rm -f Result/*/*.tmp Result/*/*/*.tmp; ");
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.output.find("Размерность"), std::string::npos) << "went on to the summary";
  const fs::path run = dir.path / "run";
  EXPECT_FALSE(fs::exists(run / "Отчет.txt"));
  expectWholeResultFiles(run);
  int unchanged = 0;
  for (const char* f : kResultFolders)
    unchanged += readFile(run / resultPath(f, "100000")) ==
                 readFile(dir.path / "old" / resultPath(f, "100000"));
  EXPECT_GE(unchanged, 1);
}

TEST(Interrupt, ConsolePipeWithoutReaderDoesNotLoseTheSave) {
  // `plume | tee log` and Ctrl+C: tee ends at once, the messages go to a
  // pipe nobody reads.
  ScratchDir dir;
  RunResult r = runPlume(dir, kExample, "", kSaved + "exec 3<&-; kill -INT $p; ", true);
  EXPECT_EQ(r.status, 130);
  expectWholeResultFiles(dir.path / "run");
  EXPECT_NE(readFile(dir.path / "run/Отчет.txt").find("Gr = 100000\tPr = 0.71\n"),
            std::string::npos);
}
