#include "steady/self_check.h"

#include <cmath>

#include "platform/platform.h"
#include "platform/text.h"
#include "run/outer_loop.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "state/grid.h"

namespace plume::steady {

SelfCheck runSelfCheck() {
  consoleWrite(ru("Самопроверка: итерации plume от найденного решения\n"));
  double prev = 0.0;
  for (int k = 0; k < kSelfCheckIterations; ++k) {
    bareIteration(iterationStep);
    double residual = std::fabs(omegaSqSum - prev);
    printProgress(k, residual);
    if (residual < residualLimit) {
      printConverged(k);
      mirrorHalf(T, Omega, Psi);
      return {true, k + 1, omegaSqSum, prev};
    }
    prev = omegaSqSum;
  }
  mirrorHalf(T, Omega, Psi);
  return {false, kSelfCheckIterations, omegaSqSum, prev};
}

}  // namespace plume::steady
