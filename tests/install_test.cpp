// What is handed to users: `cmake --install` of the build run from the
// installed tree, and the Windows cross build (scripts/test.sh builds it in
// build-windows/ first).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/test_support.h"

namespace fs = std::filesystem;
using namespace plume::testing;

TEST(Install, ProgramsCommandsAndExampleRunFromTheInstalledTree) {
  ScratchDir prefix;
  const fs::path work = prefix.path / "share/plume/examples";
  RunResult r =
      runIn(prefix.path, "cmake --install '" + fs::path(PLUME_BINARY).parent_path().string() +
                             "' --prefix . && test -x bin/plume-trace 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  // The installed example, with Gr = 1 so that it converges at once.
  EXPECT_EQ(readFile(work / "Result/parametrs"), "100000 0.71 0 0 0 0\n");
  std::ofstream(work / "Result/parametrs") << "1 0.71 0 0 0 0\n";
  EXPECT_EQ(runIn(work, "../../../bin/plume").status, 0);
  for (const char* folder : kResultFolders)
    EXPECT_TRUE(fs::is_regular_file(work / resultPath(folder, "1"))) << folder;
  // Away from the source tree the commands find only the installed reader.
  if (runIn(work, "/usr/bin/python3 -c 'import numpy, matplotlib' 2>/dev/null").status != 0)
    GTEST_SKIP() << "/usr/bin/python3 lacks numpy or matplotlib: installed commands not run";
  r = runIn(prefix.path, "bin/plume-vtk nowhere 2>&1; echo \" $?\"; bin/plume-pictures --help");
  EXPECT_NE(r.output.find("plume-vtk: no result files in"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(" 1\nusage: plume-pictures"), std::string::npos) << r.output;
}

TEST(WindowsBuild, ProgramsNeedOnlyWindowsOwnDlls) {
  const fs::path dir = fs::path(__FILE__).parent_path().parent_path() / "build-windows";
  if (!fs::exists(dir / "plume.exe")) GTEST_SKIP() << "no Windows build in " << dir;
  for (const char* exe : {"plume.exe", "plume-trace.exe"}) {
    RunResult r = runIn(dir, std::string("x86_64-w64-mingw32-objdump -p ") + exe);
    ASSERT_EQ(r.status, 0) << exe << ": no x86_64-w64-mingw32-objdump?";
    // The MinGW runtime (libgomp, libstdc++, libgcc, winpthreads) is linked
    // in: only system DLLs are imported.
    const std::regex dll("DLL Name: (\\S+)");
    int dlls = 0;
    for (std::sregex_iterator m(r.output.begin(), r.output.end(), dll), end; m != end; ++m, ++dlls)
      EXPECT_FALSE((*m)[1].str().starts_with("lib")) << exe << " needs " << (*m)[1].str();
    EXPECT_GT(dlls, 0) << exe;
  }
}
