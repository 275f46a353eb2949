#include "steady/self_check.h"

#include <cmath>
#include <memory>

#include "platform/platform.h"
#include "platform/text.h"
#include "output/progress.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "solver/stopping.h"

namespace plume::steady {

SelfCheck runSelfCheck(State& s, const Case& c) {
  consoleWrite(ru("Самопроверка: итерации plume от найденного решения\n"));
  const auto ws = std::make_unique<kernel::Workspace>();
  double prev = 0.0;
  for (int k = 0; k < kSelfCheckIterations; ++k) {
    bareIteration(s, [&c, &ws](State& st) { iterationStep(st, c, *ws); });
    double residual = std::fabs(s.omegaSqSum - prev);
    printProgress(k, residual);
    if (residual < residualLimit) {
      printConverged(k);
      mirrorHalf(s.T, s.Omega, s.Psi);
      return {true, k + 1, s.omegaSqSum, prev};
    }
    prev = s.omegaSqSum;
  }
  mirrorHalf(s.T, s.Omega, s.Psi);
  return {false, kSelfCheckIterations, s.omegaSqSum, prev};
}

}  // namespace plume::steady
