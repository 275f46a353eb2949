// Tests of what is handed to users: `cmake --install` of the build, and the
// Windows cross build (tools/test.sh builds it in build-windows/ first).

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

namespace {

const fs::path kSourceDir = fs::path(__FILE__).parent_path().parent_path();
const fs::path kBuildDir = fs::path(PLUME_BINARY).parent_path();

bool isExecutableFile(const fs::path& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) != 0;
}

bool python3Has(const std::string& module) {
  ScratchDir dir;
  return runIn(dir.path, "/usr/bin/python3 -c 'import " + module + "' 2>/dev/null").status == 0;
}

class Install : public ::testing::Test {
 protected:
  void SetUp() override {
    RunResult r = runIn(prefix.path, "cmake --install '" + kBuildDir.string() + "' --prefix '" +
                                         prefix.path.string() + "' 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
  }
  ScratchDir prefix;
};

}  // namespace

TEST_F(Install, PutsProgramsCommandsAndExampleInPlace) {
  for (const char* program : {"plume", "plume-trace", "plume-pictures", "plume-vtk"})
    EXPECT_TRUE(isExecutableFile(prefix.path / "bin" / program)) << program;
  EXPECT_TRUE(fs::is_regular_file(prefix.path / "share" / "plume" / "python" / "plume_results.py"));

  fs::path example = prefix.path / "share" / "plume" / "examples";
  EXPECT_EQ(readFile(example / "Result" / "parametrs"), readFile(kSourceDir / "examples" / "Result" / "parametrs"));
  EXPECT_NE(readFile(example / "Result" / "parametrs").find("100000 0.71 0 0 0 0"), std::string::npos);
  for (const char* folder : {"T", "W", "V", "Vy", "Vx"})
    EXPECT_TRUE(fs::is_directory(example / "Result" / "251_301_5_150" / folder)) << folder;
}

TEST_F(Install, InstalledProgramRunsTheInstalledExample) {
  ScratchDir work;
  fs::copy(prefix.path / "share" / "plume" / "examples", work.path, fs::copy_options::recursive);
  // Gr = 1 converges in the first iteration, so the run is short.
  std::ofstream(work.path / "Result" / "parametrs") << "1 0.71 0 0 0 0\n";
  RunResult r = runIn(work.path, "'" + (prefix.path / "bin" / "plume").string() + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Количество итераций = 0\n"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::is_regular_file(work.path / "Result" / "251_301_5_150" / "T" / "T_Pr_2700_Gr_1.txt"));
}

TEST_F(Install, InstalledCommandsFindTheirSharedReader) {
  if (!python3Has("numpy")) GTEST_SKIP() << "/usr/bin/python3 lacks numpy";
  // Copied away from the source tree: only the installed reader can be found.
  RunResult r = runIn(prefix.path, "bin/plume-vtk --help 2>&1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("usage: plume-vtk"), std::string::npos) << r.output;
  r = runIn(prefix.path, "bin/plume-vtk nowhere 2>&1");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("plume-vtk: no result files in"), std::string::npos) << r.output;

  if (!python3Has("matplotlib")) GTEST_SKIP() << "/usr/bin/python3 lacks matplotlib";
  r = runIn(prefix.path, "bin/plume-pictures --help 2>&1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("usage: plume-pictures"), std::string::npos) << r.output;
}

TEST(WindowsBuild, ProgramsNeedOnlyWindowsOwnDlls) {
  fs::path dir = kSourceDir / "build-windows";
  ScratchDir scratch;
  if (!fs::exists(dir / "plume.exe")) GTEST_SKIP() << "no Windows build in " << dir;
  if (runIn(scratch.path, "command -v x86_64-w64-mingw32-objdump >/dev/null").status != 0)
    GTEST_SKIP() << "x86_64-w64-mingw32-objdump is not installed";
  for (const char* exe : {"plume.exe", "plume-trace.exe"}) {
    RunResult r = runIn(scratch.path, "x86_64-w64-mingw32-objdump -p '" + (dir / exe).string() + "'");
    ASSERT_EQ(r.status, 0) << exe;
    EXPECT_NE(r.output.find("file format pei-x86-64"), std::string::npos) << exe;
    // The MinGW runtime (libgomp, libstdc++, libgcc, winpthreads) is linked
    // in, so the .exe runs on its own; only system DLLs are imported.
    std::regex dllName("DLL Name: (\\S+)");
    int dlls = 0;
    for (std::sregex_iterator m(r.output.begin(), r.output.end(), dllName), end; m != end; ++m, ++dlls)
      EXPECT_EQ((*m)[1].str().rfind("lib", 0), std::string::npos) << exe << " needs " << (*m)[1].str();
    EXPECT_GT(dlls, 0) << exe;
  }
}
