#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace plume::testing {

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "plume-test-XXXXXX").string();
  path = mkdtemp(tmpl.data());
}

void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders) {
  std::filesystem::create_directories(dir / "Result");
  std::ofstream(dir / "Result" / "parametrs", std::ios::binary) << parameters;
  for (const char* sub : kResultFolders)
    if (withResultFolders) std::filesystem::create_directories(dir / "Result/251_301_5_150" / sub);
}

RunResult runIn(const std::filesystem::path& dir, const std::string& command) {
  std::FILE* p = popen(("cd '" + dir.string() + "' && (" + command + ") </dev/null").c_str(), "r");
  RunResult r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

std::string readFile(const std::filesystem::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

std::vector<std::string> filesBelow(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(out.begin(), out.end());
  return out;
}

State& testState() {
  static State s;
  return s;
}

Case& testCase() {
  static Case c;
  return c;
}

kernel::Workspace& testWorkspace() {
  static kernel::Workspace ws;
  return ws;
}

void restoreState(const StateCopy& copy, State& s) {
  std::copy(copy.psi.begin(), copy.psi.end(), &s.Psi[0][0]);
  std::copy(copy.omega.begin(), copy.omega.end(), &s.Omega[0][0]);
  std::copy(copy.t.begin(), copy.t.end(), &s.T[0][0]);
  s.omegaSqSum = copy.omegaSqSum;
}

long countDifferences(const Field& f, const FieldCopy& copy, std::string* where) {
  long n = 0;
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) {
      const double was = copy[std::size_t(i) * kCols + j];
      if (sameBits(f[i][j], was) || n++ != 0 || where == nullptr) continue;
      std::ostringstream s;
      s.precision(17);
      s << "(" << i << ", " << j << "): " << f[i][j] << " vs " << was;
      *where = s.str();
    }
  return n;
}

void fillRandom(Field& f, std::uint64_t seed, double lo, double hi) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(lo, hi);
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) f[i][j] = dist(gen);
}

std::string cFormat(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace plume::testing
