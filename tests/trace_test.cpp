// plume-trace: the raw fields and the per-iteration measure after N
// iterations of the loop body, equal to the same iterations computed here;
// the literal and the production step give the same bytes on one thread.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/wall_vorticity.h"
#include "solver/sweeps_literal.h"
#include "state/parameters.h"
#include "tests/test_support.h"

using namespace plume;
using namespace plume::testing;

namespace {

constexpr std::size_t kFieldBytes = std::size_t(1201) * 921 * 8;
const char* const kFieldFiles[3] = {"T.f64", "Omega.f64", "Psi.f64"};

RunResult runTrace(const ScratchDir& dir, const std::string& args, int threads) {
  std::filesystem::create_directories(dir.path / "out");
  return runIn(dir.path, "OMP_NUM_THREADS=" + std::to_string(threads) + " timeout 120 '" PLUME_TRACE_BINARY "' " + args);
}

// A field read back from its .f64 file (little-endian doubles, row-major).
std::vector<double> readField(const std::filesystem::path& path) {
  std::string bytes = readFile(path);
  std::vector<double> v(bytes.size() / 8);
  for (std::size_t k = 0; k < v.size(); ++k) {
    std::uint64_t u = 0;
    for (int b = 7; b >= 0; --b) u = (u << 8) | static_cast<unsigned char>(bytes[k * 8 + b]);
    std::memcpy(&v[k], &u, 8);
  }
  return v;
}

}  // namespace

TEST(Trace, WritesTheFieldsAndMeasuresOfTheIterations) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  RunResult r = runTrace(dir, "3 out", 1);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");

  // The same three iterations here, on one thread.
  std::string sums;
  {
    ThreadCount team(1);
    resetState();
    setInitialState({1e5, 0.71, 0.0, 0.0, 0.0, 0.0});
    for (int k = 0; k < 3; ++k) {
      applyWallVorticity();
      T[srcI][srcJ] = 1.0;
      literal::iterationStep();
      sums += std::to_string(k) + "\t" + cFormat("%.17g", omegaSqSum) + "\n";
    }
  }
  EXPECT_EQ(readFile(dir.path / "out" / "omegaSqSum.txt"), sums);

  const Field* fields[3] = {&T, &Omega, &Psi};
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(kFieldFiles[f]);
    std::vector<double> traced = readField(dir.path / "out" / kFieldFiles[f]);
    ASSERT_EQ(traced.size() * 8, kFieldBytes);
    std::string where;
    EXPECT_EQ(countDifferences(*fields[f], traced, &where), 0) << where;
  }
  // No result files, no report.
  EXPECT_EQ(filesBelow(dir.path), (std::vector<std::string>{"Result/parametrs", "out/Omega.f64",
                                                            "out/Psi.f64", "out/T.f64",
                                                            "out/omegaSqSum.txt"}));
}

TEST(Trace, LiteralAndProductionStepsGiveTheSameBytesOnOneThread) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  std::filesystem::create_directories(dir.path / "A");
  std::filesystem::create_directories(dir.path / "B");
  ASSERT_EQ(runTrace(dir, "2 A literal", 1).status, 0);
  ASSERT_EQ(runTrace(dir, "2 B production", 1).status, 0);
  for (const char* file : {"T.f64", "Omega.f64", "Psi.f64", "omegaSqSum.txt"}) {
    SCOPED_TRACE(file);
    std::string a = readFile(dir.path / "A" / file), b = readFile(dir.path / "B" / file);
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << "literal and production differ";
  }
}

TEST(Trace, FourThreadsKeepTheMirrorRuleAndTheWalls) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "100000 0.71 0 0 0 0\n");
  ASSERT_EQ(runTrace(dir, "2 out production", 4).status, 0);
  std::vector<double> t = readField(dir.path / "out" / "T.f64");
  std::vector<double> omega = readField(dir.path / "out" / "Omega.f64");
  std::vector<double> psi = readField(dir.path / "out" / "Psi.f64");
  ASSERT_EQ(t.size() * 8, kFieldBytes);
  ASSERT_EQ(omega.size() * 8, kFieldBytes);
  ASSERT_EQ(psi.size() * 8, kFieldBytes);
  auto at = [](const std::vector<double>& f, int i, int j) { return f[std::size_t(i) * kCols + j]; };
  long faults = 0;
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      if (i == 0 || i == NX || j == 0 || j == NY) {
        faults += at(psi, i, j) != 0.0 || at(t, i, j) != 0.0;
        continue;
      }
      faults += !std::isfinite(at(t, i, j)) || !std::isfinite(at(omega, i, j)) ||
                !std::isfinite(at(psi, i, j));
      if (i < 600) {
        faults += !sameBits(at(t, NX - i, j), at(t, i, j));
        faults += !sameBits(at(omega, NX - i, j), -at(omega, i, j));
        faults += !sameBits(at(psi, NX - i, j), -at(psi, i, j));
      }
    }
  EXPECT_EQ(faults, 0);
  EXPECT_EQ(at(t, 600, 20), 1.0);
  EXPECT_EQ(at(omega, 600, 20), 0.0);
  EXPECT_EQ(at(psi, 600, 20), 0.0);
  EXPECT_EQ(splitLines(readFile(dir.path / "out" / "omegaSqSum.txt")).size(), 2u);
}

TEST(Trace, ReadsTheParameterFileAsTheProgramDoes) {
  ScratchDir dir;
  makeWorkingDir(dir.path, "1e6 0,7 0 0 0 0\n");
  RunResult r = runTrace(dir, "1 out", 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Pr"), std::string::npos) << r.output;
  EXPECT_EQ(filesBelow(dir.path), std::vector<std::string>{"Result/parametrs"});
}
