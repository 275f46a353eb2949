#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "state/grid.h"

namespace plume::testing {

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "plume-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  path = made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders) {
  std::filesystem::create_directories(dir / "Result");
  std::ofstream(dir / "Result" / "parametrs", std::ios::binary) << parameters;
  if (withResultFolders)
    for (const char* sub : {"T", "W", "V", "Vy", "Vx"})
      std::filesystem::create_directories(dir / "Result" / "251_301_5_150" / sub);
}

RunResult runIn(const std::filesystem::path& dir, const std::string& command) {
  std::string line = "cd '" + dir.string() + "' && " + command + " </dev/null";
  RunResult r;
  std::FILE* p = popen(line.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  int st = pclose(p);
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  else if (WIFSIGNALED(st)) r.status = 128 + WTERMSIG(st);
  return r;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void resetState() {
  std::memset(Psi, 0, sizeof Psi);
  std::memset(Omega, 0, sizeof Omega);
  std::memset(T, 0, sizeof T);
  Gr = 0.0;
  Pr = 0.0;
  omegaSqSum = 0.0;
}

}  // namespace plume::testing
