// plume-bench N SKIP
//
// Reads Result/parametrs in the working directory, runs SKIP untimed
// iterations, then times N iterations of the production kernels and N of the
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
#include <vector>

#include "platform/platform.h"
#include "run/outer_loop.h"
#include "solver/cpu_features.h"
#include "solver/iteration_step.h"
#include "solver/sweeps_literal.h"
#include "state/grid.h"
#include "state/parameters.h"

namespace {

using namespace plume;

void iterate(long n, void (*step)()) {
  for (long k = 0; k < n; ++k) {
    bareIteration(step);
  }
}

double msPerIteration(long n, void (*step)()) {
  double start = omp_get_wtime();
  iterate(n, step);
  return (omp_get_wtime() - start) * 1000.0 / static_cast<double>(n);
}

struct Snapshot {
  std::vector<double> psi, omega, t;
  void take() {
    psi.assign(&Psi[0][0], &Psi[0][0] + kRows * kCols);
    omega.assign(&Omega[0][0], &Omega[0][0] + kRows * kCols);
    t.assign(&T[0][0], &T[0][0] + kRows * kCols);
  }
  void restore() const {
    std::memcpy(Psi, psi.data(), sizeof Psi);
    std::memcpy(Omega, omega.data(), sizeof Omega);
    std::memcpy(T, t.data(), sizeof T);
  }
  bool sameAsFields() const {
    return std::memcmp(Psi, psi.data(), sizeof Psi) == 0 &&
           std::memcmp(Omega, omega.data(), sizeof Omega) == 0 &&
           std::memcmp(T, t.data(), sizeof T) == 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  long n = argc == 3 ? std::atol(argv[1]) : 0;
  long skip = argc == 3 ? std::atol(argv[2]) : -1;
  if (n <= 0 || skip < 0) {
    std::fprintf(stderr, "usage: plume-bench N SKIP   (N >= 1 timed, SKIP >= 0 untimed iterations)\n");
    return 64;
  }
  initConsole();
  if (readParameters() != 0) return 1;

  iterate(skip, iterationStep);
  Snapshot start;
  start.take();

  int threads = omp_get_max_threads();
  std::fprintf(stderr, "production kernels: %s\n", isaName(selectedIsa()));
  double production = msPerIteration(n, iterationStep);
  fillMirrorHalf();
  double productionSum = omegaSqSum;
  Snapshot afterProduction;
  afterProduction.take();

  start.restore();
  double literalMs = msPerIteration(n, literal::iterationStep);

  std::printf("kernel=production threads=%d ms_per_iteration=%.3f\n", threads, production);
  std::printf("kernel=literal threads=%d ms_per_iteration=%.3f\n", threads, literalMs);
  std::printf("speedup=%.2f\n", literalMs / production);
  if (threads == 1 && (!afterProduction.sameAsFields() || productionSum != omegaSqSum)) {
    std::printf("error: production and literal kernels gave different fields\n");
    return 3;
  }
  return 0;
}
