#include "steady/forcing.h"

#include <algorithm>

namespace plume::steady {

namespace {

constexpr double kLooseSolve = 0.1;
constexpr double kTargetMargin = 0.1;
// A linear solve that aimed at this fraction of the previous residual or less
// would have let Newton gain more than a factor 10 above rounding.
constexpr double kTightSolve = 0.05;

}  // namespace

double linearTolerance(double gained, double residual, double target) {
  return std::min(kLooseSolve, std::max(gained, kTargetMargin * target / residual));
}

bool atRoundingFloor(double residual, double previous, double aimed, double stateNorm) {
  if (residual <= kFloorFactor * stateNorm) return true;
  return residual <= kFloorZone * stateNorm && residual > 0.1 * previous &&
         aimed <= kTightSolve * previous;
}

}  // namespace plume::steady
