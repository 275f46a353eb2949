// Checkpoints and plume --resume, with the program built for a short run
// (25 iterations, saves after iterations 0, 10, 20 and 24, a progress line
// before each, so a resumed run first shows the residual it read): a run
// stopped anywhere and resumed, on any thread count, ends with the bits of a
// run never stopped; a damaged, foreign or finished checkpoint is refused
// with nothing written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

namespace {

const std::string kCheckpoint = "Result/251_301_5_150/checkpoint_Gr_100000.bin";
// Unequal walls, so a mirror half rebuilt wrongly from the stored half shows.
const std::string kParameters = "100000 0.71 0.25 -0.5 1 0.125\n";

// Runs the short program in `dir` and sends `sig` once `stopWhen` holds (the
// console so far); the status is 128 + the signal when it ended the run.
RunResult runShort(const fs::path& dir, int threads, const std::string& args = "", int sig = 0,
                   const std::function<bool(const std::string&)>& stopWhen = nullptr) {
  std::string command = "cd '" + dir.string() +
                        "' && echo $$ && OMP_NUM_THREADS=" + std::to_string(threads) +
                        " exec '" PLUME_SHORT_BINARY "' " + args;
  std::FILE* p = popen((command + " </dev/null").c_str(), "r");
  fcntl(fileno(p), F_SETFL, O_NONBLOCK);
  std::string out;  // the shell's pid (the program's, after exec), then the console
  bool sent = false;
  for (ssize_t n = 1; n != 0;) {
    pollfd ready{fileno(p), POLLIN, 0};
    poll(&ready, 1, stopWhen && !sent ? 0 : 50);  // watch closely until the signal is sent
    char buf[4096];
    if ((n = read(fileno(p), buf, sizeof buf)) > 0) out.append(buf, std::size_t(n));
    std::size_t eol = out.find('\n');
    if (!sent && stopWhen && eol != std::string::npos && stopWhen(out.substr(eol + 1)))
      sent = kill(std::stoi(out), sig) == 0;
  }
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), out.substr(out.find('\n') + 1)};
}

// What a run leaves: the result files, the checkpoint without its loop time
// and checksum, and the progress and limit lines of its console.
struct Outcome {
  std::vector<std::string> results;
  std::string checkpoint, progress;
  bool operator==(const Outcome&) const = default;
};

Outcome outcomeOf(const fs::path& dir, const std::string& console) {
  Outcome o;
  for (const char* f : kResultFolders) o.results.push_back(readFile(dir / resultPath(f, "100000")));
  std::string c = readFile(dir / kCheckpoint);
  o.checkpoint = c.size() < 116 ? c : c.substr(0, 104) + c.substr(112, c.size() - 116);
  std::istringstream lines(console);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("Итерация = ") || line.starts_with("Достигнут")) o.progress += line + "\n";
  return o;
}

class Checkpoint : public ::testing::Test {
 protected:
  // One run never stopped, on two threads.
  static void SetUpTestSuite() {
    reference_ = new ScratchDir;
    makeWorkingDir(reference_->path, kParameters);
    RunResult r = runShort(reference_->path, 2);
    ASSERT_EQ(r.status, 0) << r.output;
    expected_ = new Outcome(outcomeOf(reference_->path, r.output));
  }
  static void TearDownTestSuite() {
    delete expected_;
    delete reference_;
  }
  void SetUp() override { ASSERT_NE(expected_, nullptr); }
  static fs::path finalCheckpoint() { return reference_->path / kCheckpoint; }
  static inline ScratchDir* reference_ = nullptr;
  static inline Outcome* expected_ = nullptr;
};

}  // namespace

TEST_F(Checkpoint, StoppedRunsResumeToTheBitsOfARunNeverStopped) {
  auto line = [](const char* text) {
    return [=](const std::string& c) { return c.find(text) != std::string::npos; };
  };
  struct Case {
    const char* name;
    int threads, sig;
    std::function<bool(const std::string&)> stopWhen;
    std::vector<int> resumeThreads;  // one resumed segment each; the last runs to the end
  };
  auto written = [](auto&) { return fs::exists(kCheckpoint); };
  auto rewriting = [](auto&) {
    return fs::exists(kCheckpoint + ".tmp") && fs::exists(kCheckpoint);
  };
  const Case cases[] = {
      {"SIGINT between saves, resumed on 2 threads", 1, SIGINT, line("Итерация = 5\t"), {2}},
      {"SIGTERM at the save after iteration 10", 2, SIGTERM, line("Итерация = 10\t"), {1}},
      {"kill -9 once the checkpoint of iteration 0 is written", 2, SIGKILL, written, {2}},
      {"kill -9 in the second checkpoint's write, resumed twice", 1, SIGKILL, rewriting, {2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    makeWorkingDir(dir.path, kParameters);
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path);  // the conditions name files relative to it
    RunResult first = runShort(dir.path, c.threads, "", c.sig, c.stopWhen);
    fs::current_path(cwd);
    ASSERT_EQ(first.status, 128 + c.sig) << first.output;
    std::string console = first.output;
    for (std::size_t n = 0; n < c.resumeThreads.size(); ++n) {
      bool last = n + 1 == c.resumeThreads.size();
      RunResult next = last ? runShort(dir.path, c.resumeThreads[n], "--resume")
                            : runShort(dir.path, c.resumeThreads[n], "--resume", SIGINT,
                                       line("Итерация = 20\t"));
      ASSERT_EQ(next.status, last ? 0 : 128 + SIGINT) << next.output;
      const std::string resumed = "Расчет продолжается с итерации ";
      ASSERT_TRUE(next.output.starts_with(resumed)) << next.output;
      EXPECT_NE(next.output.find("Всего с начала расчета: "), std::string::npos) << next.output;
      // After kill -9 the iterations since the checkpoint run again: keep their lines once.
      int from = std::stoi(next.output.substr(resumed.size()));
      console = console.substr(0, console.find("Итерация = " + std::to_string(from) + "\t")) +
                next.output;
    }
    Outcome got = outcomeOf(dir.path, console);
    EXPECT_EQ(got.progress, expected_->progress);
    EXPECT_TRUE(got.checkpoint == expected_->checkpoint);
    for (int k = 0; k < 5; ++k)
      EXPECT_TRUE(got.results[k] == expected_->results[k]) << kResultFolders[k];
  }
}

namespace {

// A number of type V at `offset` of checkpoint bytes `c` (the build machine is little-endian).
template <class V>
V storedAt(const std::string& c, std::size_t offset) {
  V value{};
  if (offset + sizeof value <= c.size()) std::memcpy(&value, c.data() + offset, sizeof value);
  return value;
}

}  // namespace

TEST_F(Checkpoint, FileLayoutHoldsTheParametersCountAndFieldsAtTheirOffsets) {
  const std::string c = readFile(finalCheckpoint());
  ASSERT_EQ(c.size(), 120u + 3u * 601 * 921 * 8 + 4);
  EXPECT_EQ(c.substr(0, 8), "PLUMECKP");
  EXPECT_EQ(storedAt<std::uint32_t>(c, 8), 1u);
  EXPECT_EQ(storedAt<double>(c, 48), -0.5);                         // tTop
  EXPECT_EQ(storedAt<std::int64_t>(c, 72), 25);                     // completed iterations
  EXPECT_EQ(storedAt<double>(c, 120 + (600 * 921 + 20) * 8), 1.0);  // T at the source
}

TEST_F(Checkpoint, TraceFromItContinuesTheIterationsBitForBit) {
  // The fields of 25 iterations traced from the start equal the
  // checkpoint's; 3 more from it equal 28 from the start.
  ScratchDir dir;
  makeWorkingDir(dir.path, kParameters);
  const std::string trace = "'" PLUME_TRACE_BINARY "' ";
  const std::string ckpt = " --from '" + finalCheckpoint().string() + "' ";
  for (const char* run : {"25 fresh25", "28 fresh28"})
    ASSERT_EQ(runIn(dir.path, "OMP_NUM_THREADS=2 " + trace + run).status, 0);
  ASSERT_EQ(runIn(dir.path, trace + ckpt + "0 new/a").status, 0);  // OUTDIR made as mkdir -p
  ASSERT_EQ(runIn(dir.path, trace + ckpt + "3 new/b literal").status, 0);
  for (const char* f : {"T.f64", "Omega.f64", "Psi.f64"}) {
    EXPECT_TRUE(readFile(dir.path / "fresh25" / f) == readFile(dir.path / "new/a" / f)) << f;
    EXPECT_TRUE(readFile(dir.path / "fresh28" / f) == readFile(dir.path / "new/b" / f)) << f;
  }
  const std::string sums = readFile(dir.path / "fresh28/omegaSqSum.txt");
  EXPECT_EQ(readFile(dir.path / "new/b/omegaSqSum.txt"), sums.substr(sums.find("\n25\t") + 1));
  // The final omegaSqSum is stored with its bits.
  std::string last25 = sums.substr(sums.find("\n24\t") + 4);
  EXPECT_EQ(cFormat("%.17g", storedAt<double>(readFile(finalCheckpoint()), 96)),
            last25.substr(0, last25.find('\n')));
}

TEST_F(Checkpoint, FreshStartTellsAndKeepsTheOldCheckpoint) {
  ScratchDir dir;
  makeWorkingDir(dir.path, kParameters);
  fs::copy_file(finalCheckpoint(), dir.path / kCheckpoint);
  RunResult r = runShort(dir.path, 1);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(r.output.starts_with(
      "Есть контрольная точка '" + kCheckpoint + "', с которой расчет " +
      "продолжится с итерации 25: чтобы продолжить его, используйте --resume"));
  EXPECT_TRUE(readFile(dir.path / (kCheckpoint + ".old")) == readFile(finalCheckpoint()));
  EXPECT_TRUE(outcomeOf(dir.path, r.output) == *expected_);  // one thread as two
}

TEST_F(Checkpoint, RefusalsWriteNothing) {
  const std::string good = readFile(finalCheckpoint());
  auto flip = [&](int k) { return good.substr(0, k) + char(good[k] ^ 8) + good.substr(k + 1); };
  struct Case {
    const char* name;
    std::string checkpoint, said;
    int status;
    std::string args = "--resume", parameters = kParameters;
  };
  std::string version = good, grid = good;
  version[8] = 2;
  grid[12] ^= 0x01;
  const Case cases[] = {
      {"no checkpoint", "", "Нет контрольной точки '" + kCheckpoint, 1},
      {"cut to 0", good.substr(0, 0), "обрезан: 0 байт вместо 13284628", 1},
      {"cut after the header", good.substr(0, 120), "обрезан: 120 байт", 1},
      {"last byte missing", good.substr(0, good.size() - 1), "обрезан", 1},
      {"one byte too long", good + "x", "длиннее", 1},
      {"bit in a field", flip(7000001), "контрольная сумма", 1},
      {"bit in the checksum", flip(good.size() - 2), "контрольная сумма", 1},
      {"not a checkpoint", flip(3), "не файл контрольной точки", 1},
      {"another version", version, "формат версии 2", 1},
      {"another grid", grid, "сетка 1200x921", 1},
      {"another Pr", good, "параметр Pr в ней равен 0.71, а в файле 'Result/parametrs' равен 0.72",
       1, "--resume", "100000 0.72 0.25 -0.5 1 0.125\n"},
      {"at this build's limit", good, "предела числа итераций (25)", 0},
      {"a mistyped --resume", good, "Использование: plume [--resume]", 64, "--resum"},
      {"an argument too many", good, "Использование", 64, "--resume now"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    makeWorkingDir(dir.path, c.parameters);
    if (std::strcmp(c.name, "no checkpoint") != 0)
      std::ofstream(dir.path / kCheckpoint) << c.checkpoint;
    std::vector<std::string> before = filesBelow(dir.path);
    RunResult r = runShort(dir.path, 1, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    EXPECT_TRUE(c.status == 64 || r.output.find(kCheckpoint) != std::string::npos) << r.output;
    EXPECT_EQ(filesBelow(dir.path), before);
    EXPECT_TRUE(!fs::exists(dir.path / kCheckpoint) ||
                readFile(dir.path / kCheckpoint) == c.checkpoint);
  }
}

TEST(CheckpointStart, AConvergedRunIsNotResumed) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1 0.71 0 0 0 0\n");  // converges in iteration 0
  ASSERT_EQ(runShort(dir.path, 1).status, 0);
  std::vector<std::string> before = filesBelow(dir.path);
  RunResult r = runShort(dir.path, 1, "--resume");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("уже сошелся на итерации 0"), std::string::npos) << r.output;
  EXPECT_EQ(filesBelow(dir.path), before);
}

TEST(CheckpointStart, ADivergedRunKeepsTheLastFiniteCheckpoint) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1e200 0.71 0 0 0 0\n");  // diverges in iteration 0
  std::ofstream(dir.path / "Result/251_301_5_150/checkpoint_Gr_1e+200.bin") << "last finite";
  EXPECT_EQ(runShort(dir.path, 1).status, 2);
  EXPECT_EQ(readFile(dir.path / "Result/251_301_5_150/checkpoint_Gr_1e+200.bin"), "last finite");
}

TEST(ResultFolders, MissingOnesAreMadeBeforeAnyWork) {
  ScratchDir bare;
  makeWorkingDir(bare.path, "1 0.71 0 0 0 0\n", false);
  RunResult r = runShort(bare.path, 1);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(r.output.starts_with("Итерация = 0")) << r.output;
  for (const char* f : kResultFolders)
    EXPECT_TRUE(std::filesystem::exists(bare.path / resultPath(f, "1"))) << f;
}

TEST(ResultFolders, OneThatCannotBeMadeStopsTheRunBeforeAnyWork) {
  // A file where a folder must be: no folder, no iteration, no report.
  ScratchDir blocked;
  makeWorkingDir(blocked.path, "1 0.71 0 0 0 0\n", false);
  std::ofstream(blocked.path / "Result/251_301_5_150") << "a file";
  RunResult r = runShort(blocked.path, 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.starts_with("Папку 'Result/251_301_5_150/T' не удалось создать или "
                                   "записать в нее: ") &&
              r.output.ends_with("расчет не начат.\n"))
      << r.output;
  EXPECT_EQ(filesBelow(blocked.path).size(), 2u);
}
