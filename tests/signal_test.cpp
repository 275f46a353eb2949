// End-to-end tests of interrupting a run with SIGINT / SIGTERM: the real
// program is started in a scratch working directory and signalled with kill().

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

// The build options must reach the code as compile definitions; check that
// before outer_loop.h supplies its fallbacks.
#if defined(PLUME_MAX_ITERATIONS) && defined(PLUME_SAVE_INTERVAL) && defined(PLUME_PROGRESS_INTERVAL)
#define PLUME_SCHEDULE_FROM_BUILD 1
#else
#define PLUME_SCHEDULE_FROM_BUILD 0
#endif

#include "output/number_format.h"
#include "run/outer_loop.h"
#include "state/grid.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

namespace {

const char* const kFolders[5] = {"T", "W", "V", "Vy", "Vx"};

fs::path resultPath(const fs::path& dir, int k) {
  std::string f = kFolders[k];
  return dir / "Result" / "251_301_5_150" / f / (f + "_Pr_2700_Gr_100000.txt");
}

std::size_t expectedLines(int k) { return k < 3 ? std::size_t(1201) * 921 : std::size_t(1200) * 920; }

// "row<TAB>column" of the last line of each file.
const char* const kLastIndices[5] = {"1201\t921\t", "1201\t921\t", "1201\t921\t", "1200\t921\t",
                                     "1201\t920\t"};

// A running plume process with its standard output on a pipe.
class Plume {
 public:
  explicit Plume(const fs::path& dir) {
    int fds[2];
    if (pipe(fds) != 0) return;
    // Prepared before fork: the child only calls async-signal-safe functions.
    std::vector<std::string> env = {"OMP_NUM_THREADS=1", "PATH=/usr/bin:/bin", "LC_ALL=C"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = PLUME_BINARY;
    std::string cwd = dir.string();
    char* argv[] = {binary.data(), nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      int in = open("/dev/null", O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0 || dup2(fds[1], 1) < 0 || chdir(cwd.c_str()) != 0) _exit(126);
      close(fds[0]);
      execve(binary.c_str(), argv, envp.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }

  ~Plume() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  bool started() const { return pid_ > 0 && out_ >= 0; }
  // Closes the reading end of the output pipe, as a pipe reader that is gone.
  void closeOutput() {
    close(out_);
    out_ = -1;
  }
  void signal(int sig) const { kill(pid_, sig); }
  const std::string& output() const { return output_; }

  // Reads output until `text` has appeared or `ready()` holds; false when
  // the process ended first or nothing happened for a long time.
  template <class Ready>
  bool waitFor(const std::string& text, Ready ready) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (std::chrono::steady_clock::now() < deadline) {
      if ((!text.empty() && output_.find(text) != std::string::npos) || ready()) return true;
      if (!readSome(20)) return (!text.empty() && output_.find(text) != std::string::npos) || ready();
    }
    return false;
  }
  bool waitForText(const std::string& text) {
    return waitFor(text, [] { return false; });
  }

  // Reads the rest of the output and returns the exit status (128 + signal
  // when the process was killed by a signal).
  int finish() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (out_ >= 0 && readSome(100) && std::chrono::steady_clock::now() < deadline) {
    }
    int st = 0;
    if (waitpid(pid_, &st, 0) != pid_) return -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
    return status_;
  }

 private:
  // False at end of output.
  bool readSome(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    int n = poll(&p, 1, timeoutMs);
    if (n <= 0) return n == 0;
    char buf[4096];
    ssize_t got = read(out_, buf, sizeof buf);
    if (got <= 0) return false;
    output_.append(buf, std::size_t(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string output_;
};

bool allResultsSaved(const fs::path& dir) {
  for (int k = 0; k < 5; ++k)
    if (!fs::exists(resultPath(dir, k))) return false;
  return true;
}

std::size_t countLines(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

// A result file is whole: the right number of lines, the last one for the
// grid's last node, and nothing after its line end.
void expectWholeResultFile(const fs::path& dir, int k) {
  std::string text = readFile(resultPath(dir, k));
  SCOPED_TRACE(resultPath(dir, k).string());
  EXPECT_EQ(countLines(text), expectedLines(k));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::size_t start = text.rfind('\n', text.size() - 2);
  std::string last = text.substr(start == std::string::npos ? 0 : start + 1);
  EXPECT_EQ(last.rfind(kLastIndices[k], 0), 0u) << last;
}

std::vector<fs::path> leftoverTemporaries(const fs::path& dir) {
  std::vector<fs::path> found;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().extension() == ".tmp") found.push_back(e.path());
  return found;
}

// Iteration number in the interrupt message, or -1 without one.
int interruptedIteration(const std::string& output) {
  std::smatch m;
  static const std::regex message("Расчет прерван сигналом, сохраняются результаты итерации ([0-9]+)\n");
  return std::regex_search(output, m, message) ? std::stoi(m[1].str()) : -1;
}

// Text of a node-field result file for the doubles in `path` (as written by
// plume-trace), composed independently of the program's writer.
std::string fieldFileFromTrace(const fs::path& path) {
  std::vector<double> v(std::size_t(1201) * 921);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(v.data()), std::streamsize(v.size() * sizeof(double)));
  if (!in) return "";
  std::string out;
  for (int j = 0; j <= 920; ++j)
    for (int i = 0; i <= 1200; ++i)
      out += std::to_string(i + 1) + '\t' + std::to_string(j + 1) + '\t' +
             plume::formatNumber(v[std::size_t(i) * 921 + j]) + '\n';
  return out;
}

// The files saved on interrupt hold the fields after iteration `k`: the
// same as plume-trace running k + 1 iterations (one thread on both sides,
// so the sweeps are repeatable bit for bit).
void expectSavedFieldsOfIteration(const fs::path& dir, int k) {
  ScratchDir traceDir;
  makeWorkingDir(traceDir.path, "100000 0.71 0 0 0 0\n", false);
  fs::create_directories(traceDir.path / "out");
  RunResult r = runIn(traceDir.path, std::string("OMP_NUM_THREADS=1 ") + PLUME_TRACE_BINARY + " " +
                                         std::to_string(k + 1) + " out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(readFile(resultPath(dir, 0)) == fieldFileFromTrace(traceDir.path / "out" / "T.f64"))
      << "T file is not the temperature after iteration " << k;
  EXPECT_TRUE(readFile(resultPath(dir, 1)) == fieldFileFromTrace(traceDir.path / "out" / "Omega.f64"))
      << "W file is not the vorticity after iteration " << k;
}

void expectCompleteInterruptedRun(Plume& plume, const fs::path& dir, int sig) {
  int status = plume.finish();
  const std::string& out = plume.output();
  EXPECT_EQ(status, 128 + sig) << out;

  int k = interruptedIteration(out);
  ASSERT_GE(k, 0) << "no interrupt message with an iteration number:\n" << out;
  // The message comes after the last progress line and before the summary,
  // and the run neither converged nor went on.
  std::size_t message = out.find("Расчет прерван сигналом");
  std::size_t summary = out.find("Размерность сетки = 920*1200\nGr = 100000\tPr = 0.71\n");
  ASSERT_NE(summary, std::string::npos) << out;
  EXPECT_LT(message, summary);
  EXPECT_EQ(out.find("Итерация = ", message), std::string::npos) << out;
  EXPECT_EQ(out.find("Достигнут предел невязки"), std::string::npos) << out;
  EXPECT_NE(out.find("Итерация = " + std::to_string(k / PLUME_PROGRESS_INTERVAL * PLUME_PROGRESS_INTERVAL) +
                     "\t"),
            std::string::npos)
      << out;

  for (int f = 0; f < 5; ++f) expectWholeResultFile(dir, f);
  EXPECT_TRUE(leftoverTemporaries(dir).empty());

  // The report file holds the summary in Windows-1251.
  std::string report = readFile(dir / "Отчет.txt");
  EXPECT_EQ(report.rfind("\xD0\xE0\xE7\xEC\xE5\xF0\xED\xEE\xF1\xF2\xFC \xF1\xE5\xF2\xEA\xE8 = 920*1200\n"
                         "Gr = 100000\tPr = 0.71\n",
                         0),
            0u)
      << report;
  EXPECT_EQ(report.substr(report.size() - 2), "\n\n");

  expectSavedFieldsOfIteration(dir, k);
}

}  // namespace

TEST(Interrupt, SigintDuringTheFirstIterationSavesThatIterationAndExits130) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  Plume plume(dir.path);
  ASSERT_TRUE(plume.started());
  ASSERT_TRUE(plume.waitForText("Итерация = 0\t")) << plume.output();
  plume.signal(SIGINT);
  expectCompleteInterruptedRun(plume, dir.path, SIGINT);
}

TEST(Interrupt, SigtermAfterTheFirstSaveSavesTheCurrentIterationAndExits143) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  Plume plume(dir.path);
  ASSERT_TRUE(plume.started());
  ASSERT_TRUE(plume.waitFor("", [&] { return allResultsSaved(dir.path); })) << plume.output();
  plume.signal(SIGTERM);
  expectCompleteInterruptedRun(plume, dir.path, SIGTERM);
}

TEST(Interrupt, SecondSignalDuringTheSaveEndsAtOnceAndKeepsTheOldFilesWhole) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  Plume plume(dir.path);
  ASSERT_TRUE(plume.started());
  ASSERT_TRUE(plume.waitFor("", [&] { return allResultsSaved(dir.path); })) << plume.output();
  std::map<int, std::string> before;
  for (int f = 0; f < 5; ++f) before[f] = readFile(resultPath(dir.path, f));

  plume.signal(SIGINT);
  // The message is printed just before the save starts; a save of the five
  // files takes far longer than reading this line and sending the signal.
  ASSERT_TRUE(plume.waitForText("Расчет прерван сигналом")) << plume.output();
  plume.signal(SIGINT);
  int status = plume.finish();
  EXPECT_TRUE(status == 130 || status == 128 + SIGKILL) << status;
  EXPECT_EQ(plume.output().find("Размерность сетки"), std::string::npos)
      << "the run went on to its summary:\n"
      << plume.output();
  EXPECT_FALSE(fs::exists(dir.path / "Отчет.txt"));

  // Every file under its final name is whole: the one saved before, or a
  // complete new one. The file being written when the process ended keeps
  // its earlier content; a cut-off copy may only lie under the ".tmp" name.
  int unchanged = 0;
  for (int f = 0; f < 5; ++f) {
    expectWholeResultFile(dir.path, f);
    unchanged += readFile(resultPath(dir.path, f)) == before[f];
  }
  EXPECT_GE(unchanged, 1);
}

TEST(Interrupt, ConsolePipeWithoutReaderDoesNotLoseTheSave) {
  // `plume | tee log` and Ctrl+C: tee ends at once, and plume's interrupt
  // message then goes to a pipe nobody reads.
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  Plume plume(dir.path);
  ASSERT_TRUE(plume.started());
  ASSERT_TRUE(plume.waitFor("", [&] { return allResultsSaved(dir.path); })) << plume.output();
  plume.closeOutput();
  plume.signal(SIGINT);
  EXPECT_EQ(plume.finish(), 130);
  for (int f = 0; f < 5; ++f) expectWholeResultFile(dir.path, f);
  EXPECT_NE(readFile(dir.path / "Отчет.txt").find("Gr = 100000\tPr = 0.71\n"), std::string::npos);
  EXPECT_TRUE(leftoverTemporaries(dir.path).empty());
}

TEST(BuildOptions, CacheValuesReachTheProgram) {
  // plume_tests and plume are both built from plume_core, which takes the
  // schedule from the CMake cache as compile definitions.
  EXPECT_TRUE(PLUME_SCHEDULE_FROM_BUILD) << "PLUME_* compile definitions are missing";
  fs::path cache = fs::path(PLUME_BINARY).parent_path() / "CMakeCache.txt";
  std::string text = readFile(cache);
  ASSERT_FALSE(text.empty()) << cache;
  auto cached = [&](const std::string& name) {
    std::smatch m;
    std::regex entry("\n" + name + ":[A-Z]+=([0-9]+)\n");
    return std::regex_search(text, m, entry) ? std::stol(m[1].str()) : -1L;
  };
  EXPECT_EQ(cached("PLUME_MAX_ITERATIONS"), plume::kSchedule.maxIterations);
  EXPECT_EQ(cached("PLUME_SAVE_INTERVAL"), plume::kSchedule.saveInterval);
  EXPECT_EQ(cached("PLUME_PROGRESS_INTERVAL"), plume::kSchedule.progressInterval);
}
