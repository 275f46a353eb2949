// plume-bench N SKIP [--from DIR]
//
// Reads Result/parametrs in the working directory; with --from, replaces the
// initial fields by DIR/T.f64, DIR/Omega.f64 and DIR/Psi.f64 as plume-trace
// writes them (a missing or wrongly sized file is an error, status 1). Runs
// SKIP untimed iterations, then times N iterations of the production kernels and N of the
// literal kernels from that same state, and prints
//   kernel=production threads=<t> ms_per_iteration=<x>
//   kernel=literal threads=<t> ms_per_iteration=<x>
//   speedup=<literal / production>
// Both runs continue from identical fields; the final fields are compared
// and a difference is reported (status 3), since the kernels must agree.
// The instruction set the production kernels use goes to standard error
// (PLUME_ISA=avx2 or generic selects a lesser one).

#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "solver/cpu_features.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "solver/sweeps_literal.h"
#include "state/initial_state.h"

namespace {

using namespace plume;

kernel::Workspace workspace;  // the production kernels' storage

void productionStep(State& s, const Case& c) { iterationStep(s, c, workspace); }

using Step = void (*)(State&, const Case&);

void iterate(State& s, const Case& c, long n, Step step) {
  for (long k = 0; k < n; ++k) {
    bareIteration(s, [&c, step](State& st) { step(st, c); });
  }
}

double msPerIteration(State& s, const Case& c, long n, Step step) {
  double start = omp_get_wtime();
  iterate(s, c, n, step);
  return (omp_get_wtime() - start) * 1000.0 / static_cast<double>(n);
}

// The number in `text`, or -1 if it is not a whole number.
long wholeNumber(const char* text) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return end != text && *end == '\0' ? v : -1;
}

bool sameFields(const State& a, const State& b) {
  return std::memcmp(a.Psi, b.Psi, sizeof a.Psi) == 0 &&
         std::memcmp(a.Omega, b.Omega, sizeof a.Omega) == 0 &&
         std::memcmp(a.T, b.T, sizeof a.T) == 0;
}

// Reads `name` in dir into `field`; false (and a message naming the file) if
// it cannot be read or does not hold exactly one field.
bool loadField(const std::string& dir, const char* name, Field& field) {
  const std::string path = dir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "plume-bench: cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<double> data(sizeof(Field) / sizeof(double) + 1);
  const std::size_t got = std::fread(data.data(), sizeof(double), data.size(), f);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError || got != data.size() - 1) {
    std::fprintf(stderr, "plume-bench: %s is not a field of %d x %d doubles\n", path.c_str(), kRows,
                 kCols);
    return false;
  }
  std::memcpy(field, data.data(), sizeof(Field));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool from = argc == 5 && std::strcmp(argv[3], "--from") == 0;
  long n = argc == 3 || from ? wholeNumber(argv[1]) : 0;
  long skip = argc == 3 || from ? wholeNumber(argv[2]) : -1;
  if (n <= 0 || skip < 0) {
    std::fprintf(stderr,
                 "usage: plume-bench N SKIP [--from DIR]   (N >= 1 timed, SKIP >= 0 untimed "
                 "iterations; DIR holds T.f64, Omega.f64, Psi.f64 as plume-trace writes them)\n");
    return 64;
  }
  initConsole();
  static State s;  // the fields the kernels run on, in static storage
  Case c;
  if (!startFromParameterFile(s, c)) return 1;
  if (from && !(loadField(argv[4], "T.f64", s.T) && loadField(argv[4], "Omega.f64", s.Omega) &&
                loadField(argv[4], "Psi.f64", s.Psi)))
    return 1;

  iterate(s, c, skip, productionStep);
  const auto start = std::make_unique<State>(s);

  int threads = omp_get_max_threads();
  std::fprintf(stderr, "production kernels: %s\n", isaName(selectedIsa()));
  double production = msPerIteration(s, c, n, productionStep);
  mirrorHalf(s.T, s.Omega, s.Psi);
  const auto afterProduction = std::make_unique<State>(s);

  s = *start;
  double literalMs = msPerIteration(s, c, n, literal::iterationStep);

  std::printf("kernel=production threads=%d ms_per_iteration=%.3f\n", threads, production);
  std::printf("kernel=literal threads=%d ms_per_iteration=%.3f\n", threads, literalMs);
  std::printf("speedup=%.2f\n", literalMs / production);
  if (threads == 1 &&
      (!sameFields(*afterProduction, s) || afterProduction->omegaSqSum != s.omegaSqSum)) {
    std::printf("error: production and literal kernels gave different fields\n");
    return 3;
  }
  return 0;
}
