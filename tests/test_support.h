// Helpers shared by the tests: scratch working directories, running the
// program binaries, reading files, copies of the fields, thread counts.
#pragma once

#include <omp.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "solver/kernel_workspace.h"
#include "state/state.h"

namespace plume::testing {

// The grid step and the constants the solver divides by, formed here from
// their expressions so the tests do not take them from the code under test.
inline constexpr double kStep = 1.0 / 1200;
inline constexpr double kTwoStep = 2 * kStep;
inline constexpr double kStepSq = kStep * kStep;
inline constexpr double kFourOverStepSq = 4 / (kStep * kStep);
inline constexpr double kWallFactor = -2 / (kStep * kStep);

// A fresh empty directory under the system's temp folder, removed on destruction.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

// OpenMP team size for the parallel regions until destruction.
struct ThreadCount {
  explicit ThreadCount(int n) : saved(omp_get_max_threads()) { omp_set_num_threads(n); }
  ~ThreadCount() { omp_set_num_threads(saved); }
  int saved;
};

inline constexpr const char* kResultFolders[5] = {"T", "W", "V", "Vy", "Vx"};

// Creates Result/parametrs with `parameters` and the five result folders
// (unless `withResultFolders` is false) under `dir`.
void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders = true);

// Path of result file `folder` ("T", "W", ...) for the given Gr text, e.g.
// resultPath("Vx", "1e+06") = "Result/251_301_5_150/Vx/Vx_Pr_2700_Gr_1e+06.txt".
inline std::string resultPath(const std::string& folder, const std::string& grText) {
  return "Result/251_301_5_150/" + folder + "/" + folder + "_Pr_2700_Gr_" + grText + ".txt";
}

struct RunResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string output;  // standard output
};

// Runs `command` (a shell command line) in `dir` with standard input from
// /dev/null and returns its status and standard output.
RunResult runIn(const std::filesystem::path& dir, const std::string& command);

std::string readFile(const std::filesystem::path& path);

// Regular files below `dir`, as paths relative to it, sorted.
std::vector<std::string> filesBelow(const std::filesystem::path& dir);

// The state the tests run the solver on, in static storage as the programs
// keep theirs (zero at start-up), and the case it is run for.
State& testState();
Case& testCase();

// That state and its fields by name, as the tests read and write them.
inline State& st = testState();
inline Field &T = st.T, &Omega = st.Omega, &Psi = st.Psi;

// The production kernels' working storage for the tests' steps.
kernel::Workspace& testWorkspace();

// Copies of the fields and omegaSqSum, to compare or restore.
using FieldCopy = std::vector<double>;
inline FieldCopy copyOf(const Field& f) { return FieldCopy(&f[0][0], &f[0][0] + kRows * kCols); }
struct StateCopy {
  FieldCopy psi, omega, t;
  double omegaSqSum;
};
inline StateCopy saveState(const State& s = testState()) {
  return {copyOf(s.Psi), copyOf(s.Omega), copyOf(s.T), s.omegaSqSum};
}
void restoreState(const StateCopy& copy, State& s = testState());

// Same bits (so -0.0 differs from +0.0 and a NaN equals itself).
inline bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Number of nodes whose bits differ between the field and the copy; the first
// such node is reported through `where` (as "(i, j): a vs b").
long countDifferences(const Field& f, const FieldCopy& copy, std::string* where = nullptr);

// Fills every node with a value in [lo, hi) from a fixed seed.
void fillRandom(Field& f, std::uint64_t seed, double lo, double hi);

// printf-style formatting (the tests run in the C locale): the tests' own
// reference for the number format.
std::string cFormat(const char* format, double v);

}  // namespace plume::testing
