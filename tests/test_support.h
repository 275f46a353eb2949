// Helpers shared by the tests: scratch working directories, running the
// program binaries, reading files.
#pragma once

#include <filesystem>
#include <string>

namespace plume::testing {

// A fresh empty directory under the system's temp folder, removed on destruction.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path path;
};

// Creates Result/parametrs with `parameters` and the five result folders
// (unless `withResultFolders` is false) under `dir`.
void makeWorkingDir(const std::filesystem::path& dir, const std::string& parameters,
                    bool withResultFolders = true);

struct RunResult {
  int status = -1;     // exit status, or 128 + signal number
  std::string output;  // standard output
};

// Runs `command` (a shell command line) in `dir` with standard input from
// /dev/null and returns its status and standard output.
RunResult runIn(const std::filesystem::path& dir, const std::string& command);

std::string readFile(const std::filesystem::path& path);

// Resets the process-wide fields and scalars to their start-up state.
void resetState();

}  // namespace plume::testing
