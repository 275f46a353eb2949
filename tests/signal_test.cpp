// Interrupting the real program with SIGINT / SIGTERM in a scratch working
// directory: the status, the message, whole result files holding the
// iteration it names, the report, a second signal during the save, and a
// console pipe whose reader is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>

#include "output/results.h"
#include "run/outer_loop.h"
#include "solver/iteration_step.h"
#include "state/parameters.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;
using plume::setInitialState;

namespace {

const char* const kExample = "100000 0.71 0 0 0 0\n";

fs::path resultFile(const fs::path& dir, int k) {
  return dir / resultPath(kResultFolders[k], "100000");
}

// Shell steps: wait until the last result file of a save is in place (each
// appears whole, by renaming), or until the console shows `text`; either
// gives up when plume has ended.
std::string until(const std::string& condition) {
  return "until " + condition + " || [ -e ../status ]; do sleep 0.02; done; ";
}
const std::string kSaved = until("[ -e " + resultPath("Vx", "100000") + " ]");
std::string shown(const std::string& text) { return until("grep -q '" + text + "' ../out"); }

// Runs plume on the example in `dir`/run on one thread, its console in
// ../out (or a pipe when `pipe`), and `steps` in a shell beside it, with $p
// its process id; kills it if it has not ended five minutes later.
RunResult runAndInterrupt(const ScratchDir& dir, const std::string& steps, bool pipe = false) {
  fs::create_directories(dir.path / "run");
  makeWorkingDir(dir.path / "run", kExample);
  runIn(dir.path / "run",
        std::string(pipe ? "mkfifo ../pipe; " : "") +
            "(OMP_NUM_THREADS=1 sh -c 'echo $$ > ../pid; exec \"" PLUME_BINARY "\"' > " +
            (pipe ? "../pipe" : "../out") + "; echo $? > ../status) & " +
            (pipe ? "exec 3<../pipe; " : "") +
            "until [ -s ../pid ]; do sleep 0.01; done; p=$(cat ../pid); " + steps + "i=0; " +
            until("[ $i -ge 15000 ] && kill -KILL $p; i=$((i+1)); false") + "wait");
  const std::string status = readFile(dir.path / "status");
  return {status.empty() ? -1 : std::stoi(status), readFile(dir.path / "out")};
}

// Whole: every line there, the last for the grid's last node, nothing after it.
void expectWholeResultFiles(const fs::path& dir) {
  const char* const lastLines[5] = {"\n1201\t921\t", "\n1201\t921\t", "\n1201\t921\t",
                                    "\n1200\t921\t", "\n1201\t920\t"};
  for (int k = 0; k < 5; ++k) {
    std::string text = readFile(resultFile(dir, k));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), k < 3 ? 1201 * 921 : 1200 * 920)
        << kResultFolders[k];
    std::size_t last = text.rfind('\n', text.size() - 2);
    EXPECT_TRUE(text.ends_with("\n") && last != std::string::npos &&
                text.substr(last).starts_with(lastLines[k]))
        << kResultFolders[k];
  }
}

void expectCompleteInterruptedRun(const RunResult& r, const fs::path& dir, int status) {
  EXPECT_EQ(r.status, status) << r.output;
  std::smatch m;
  static const std::regex message(
      "\nРасчет прерван сигналом, сохраняются результаты итерации ([0-9]+)\n"
      "Размерность сетки = 920\\*1200\nGr = 100000\tPr = 0.71\n.*\n\n$");
  ASSERT_TRUE(std::regex_search(r.output, m, message)) << r.output;
  const int k = std::stoi(m[1].str());
  EXPECT_NE(r.output.find("Итерация = " + std::to_string(k / 100 * 100) + "\t"), std::string::npos)
      << r.output;
  EXPECT_TRUE(readFile(dir / "Отчет.txt").starts_with("\xD0\xE0\xE7"));  // "Раз" in Windows-1251
  EXPECT_EQ(filesBelow(dir).size(), 8u);  // parameters, results, checkpoint, report; no .tmp file
  // The files hold the fields after iteration k.
  ThreadCount team(1);
  resetState();
  setInitialState({1e5, 0.71, 0, 0, 0, 0});
  for (int n = 0; n <= k; ++n) plume::bareIteration(plume::iterationStep);
  plume::fillMirrorHalf();
  for (int f = 0; f < 5; ++f) EXPECT_TRUE(readFile(resultFile(dir, f)) == plume::resultFileText(f));
}

}  // namespace

TEST(Interrupt, SigintDuringTheFirstIterationSavesItAndExits130) {
  ScratchDir dir;
  RunResult r = runAndInterrupt(dir, shown("Итерация = 0") + "kill -INT $p; ");
  expectCompleteInterruptedRun(r, dir.path / "run", 130);
}

TEST(Interrupt, SigtermAfterTheFirstSaveSavesTheCurrentIterationAndExits143) {
  ScratchDir dir;
  RunResult r = runAndInterrupt(dir, kSaved + "kill -TERM $p; ");
  expectCompleteInterruptedRun(r, dir.path / "run", 143);
}

TEST(Interrupt, SecondSignalDuringTheSaveEndsAtOnceAndKeepsTheFilesWhole) {
  // The message comes just before the save, which takes far longer than
  // seeing it and sending the second signal. Each file is then the one of
  // iteration 0 or a complete new one; a cut-off copy may only be a .tmp file.
  ScratchDir dir;
  RunResult r =
      runAndInterrupt(dir, kSaved + "mkdir ../old; cp -R Result ../old; kill -INT $p; " +
                               shown("прерван") + "kill -INT $p; rm -f Result/*/*/*.tmp; ");
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.output.find("Размерность"), std::string::npos) << "went on to the summary";
  const fs::path run = dir.path / "run";
  EXPECT_FALSE(fs::exists(run / "Отчет.txt"));
  expectWholeResultFiles(run);
  int unchanged = 0;
  for (int k = 0; k < 5; ++k)
    unchanged += readFile(resultFile(run, k)) == readFile(resultFile(dir.path / "old", k));
  EXPECT_GE(unchanged, 1);
}

TEST(Interrupt, ConsolePipeWithoutReaderDoesNotLoseTheSave) {
  // `plume | tee log` and Ctrl+C: tee ends at once, the messages go to a
  // pipe nobody reads.
  ScratchDir dir;
  RunResult r = runAndInterrupt(dir, kSaved + "exec 3<&-; kill -INT $p; ", true);
  EXPECT_EQ(r.status, 130);
  expectWholeResultFiles(dir.path / "run");
  EXPECT_NE(readFile(dir.path / "run/Отчет.txt").find("Gr = 100000\tPr = 0.71\n"),
            std::string::npos);
}
