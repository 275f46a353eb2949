// Helpers shared by the tests: scratch working directories, running the
// program binaries, reading files, copies of the fields, thread counts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "state/grid.h"

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
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path path;
};

// Makes `dir` the working directory until destruction (result files and the
// parameter file are named relative to it).
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir);
  ~WorkingDirectory();
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

// Standard input from /dev/null until destruction, so nothing waits for a key
// even when the tests are started from a terminal.
class StdinFromDevNull {
 public:
  StdinFromDevNull();
  ~StdinFromDevNull();
  StdinFromDevNull(const StdinFromDevNull&) = delete;
  StdinFromDevNull& operator=(const StdinFromDevNull&) = delete;

 private:
  int saved_ = -1;
};

// OpenMP team size for the parallel regions until destruction.
class ThreadCount {
 public:
  explicit ThreadCount(int n);
  ~ThreadCount();
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;

 private:
  int saved_;
};

inline constexpr const char* kResultFolders[5] = {"T", "W", "V", "Vy", "Vx"};

// Creates Result/parametrs with `parameters` and the five result folders
// (unless `withResultFolders` is false) under `dir`.
void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders = true);

// Path of result file `folder` ("T", "W", ...) for the given Gr text, e.g.
// resultPath("Vx", "1e+06") = "Result/251_301_5_150/Vx/Vx_Pr_2700_Gr_1e+06.txt".
std::string resultPath(const std::string& folder, const std::string& grText);

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

// Lines of `text` without their "\n"; a last line without "\n" is kept.
std::vector<std::string_view> splitLines(std::string_view text);

// Resets the process-wide fields and scalars to their start-up state.
void resetState();

// A copy of a field, to compare or restore.
using FieldCopy = std::vector<double>;
FieldCopy copyOf(const Field& f);
void restore(Field& f, const FieldCopy& copy);

// All three fields and omegaSqSum.
struct StateCopy {
  FieldCopy psi, omega, t;
  double omegaSqSum;
};
StateCopy saveState();
void restoreState(const StateCopy& s);

// Same bits (so -0.0 differs from +0.0 and a NaN equals itself).
bool sameBits(double a, double b);

// Number of nodes whose bits differ between the field and the copy; the first
// such node is reported through `where` (as "(i, j): a vs b").
long countDifferences(const Field& f, const FieldCopy& copy, std::string* where = nullptr);

// Fills every node with a value in [lo, hi) from a fixed seed.
void fillRandom(Field& f, std::uint64_t seed, double lo, double hi);

// Windows-1251 bytes of UTF-8 text made of ASCII and Russian letters,
// converted by the code page's table (А..я = 0xC0..0xFF, Ё = 0xA8, ё = 0xB8).
std::string toCp1251(std::string_view utf8);

// A locale whose decimal point is ',' made current for the whole process
// (C library and C++ global locale) until destruction: an installed one, or
// one compiled with localedef into a scratch folder. name() is empty when
// none could be had. env() gives the environment settings that select it in
// a child process ("LC_ALL=... LOCPATH=... ").
class CommaLocale {
 public:
  CommaLocale();
  ~CommaLocale();
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  const std::string& name() const { return name_; }
  std::string env() const;

 private:
  std::string name_;
  std::filesystem::path compiled_;  // LOCPATH folder when compiled here
};

// printf-style formatting in the C locale (the tests' own reference for the
// number format).
std::string cFormat(const char* format, double v);

}  // namespace plume::testing
