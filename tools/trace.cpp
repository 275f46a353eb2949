// plume-trace [--from CHECKPOINT] N OUTDIR [production|literal]
//
// Verification tool. Reads Result/parametrs as the program does (or starts
// from the state and parameters of a checkpoint), runs exactly N iterations
// of the outer loop's body (wall vorticity, source temperature, iteration
// step, residual) without progress lines, result files or stopping
// test, then writes into OUTDIR the fields T.f64, Omega.f64, Psi.f64
// (1201 x 921 little-endian doubles each, row-major) and omegaSqSum.txt (one
// line per iteration: k, TAB, omegaSqSum with %.17g; k counts on from the
// checkpoint's iterations). OUTDIR is created when missing.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "output/checkpoint.h"
#include "platform/platform.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "solver/sweeps_literal.h"
#include "state/initial_state.h"

namespace {

bool writeBytes(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace plume;
  const char* from = nullptr;
  if (argc >= 3 && std::strcmp(argv[1], "--from") == 0) {
    from = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc < 3 || argc > 4 ||
      (argc == 4 && std::strcmp(argv[3], "production") != 0 && std::strcmp(argv[3], "literal") != 0)) {
    std::fprintf(stderr, "usage: plume-trace [--from CHECKPOINT] N OUTDIR [production|literal]\n");
    return 64;
  }
  char* end = nullptr;
  long n = std::strtol(argv[1], &end, 10);
  if (*end != '\0' || n < 0) {
    std::fprintf(stderr, "plume-trace: N must be a whole number >= 0\n");
    return 64;
  }
  const bool literalSweeps = argc == 4 && std::strcmp(argv[3], "literal") == 0;
  static State s;
  static kernel::Workspace ws;
  Case c;
  initConsole();
  long first = 0;
  if (from != nullptr) {
    // The checkpoint holds its own parameters; no parameter file is read.
    CheckpointHistory history;
    CheckpointRead read = readCheckpoint(from, nullptr, s, c, history);
    if (read.status != CheckpointStatus::Loaded) {
      consoleWrite(read.message);
      return 1;
    }
    first = static_cast<long>(read.meta.completedIterations);
  } else if (!startFromParameterFile(s, c)) {
    return 1;
  }

  std::string sums;
  char line[64];
  for (long k = first; k < first + n; ++k) {
    bareIteration(s, [&](State& st) {
      if (literalSweeps)
        literal::iterationStep(st, c);
      else
        iterationStep(st, c, ws);
    });
    std::snprintf(line, sizeof line, "%ld\t%.17g\n", k, s.omegaSqSum);
    sums += line;
  }

  mirrorHalf(s.T, s.Omega, s.Psi);
  std::string dir = argv[2];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  bool ok = writeBytes(dir + "/T.f64", s.T, sizeof s.T) &&
            writeBytes(dir + "/Omega.f64", s.Omega, sizeof s.Omega) &&
            writeBytes(dir + "/Psi.f64", s.Psi, sizeof s.Psi) &&
            writeBytes(dir + "/omegaSqSum.txt", sums.data(), sums.size());
  if (!ok) {
    std::fprintf(stderr, "plume-trace: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
