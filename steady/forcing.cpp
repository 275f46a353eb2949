#include "steady/forcing.h"

#include <algorithm>
#include <cmath>

namespace plume::steady {

namespace {

constexpr double kLooseSolve = 0.1;
// The next solve asks for a little more than the last step gained, so that
// Newton speeds up where its steps gain little (continuation stages).
constexpr double kGainFactor = 0.9, kGainPower = 1.618;
constexpr double kTargetMargin = 0.1;
// A linear solve that aimed at this fraction of the previous residual or less
// would have let Newton gain more than a factor 10 above rounding.
constexpr double kTightSolve = 0.05;

}  // namespace

double linearTolerance(double gained, double residual, double target) {
  double follow = kGainFactor * std::pow(gained, kGainPower);
  return std::min(kLooseSolve, std::max(follow, kTargetMargin * target / residual));
}

bool atRoundingFloor(double residual, double previous, double aimed, double stateNorm) {
  if (residual <= kFloorFactor * stateNorm) return true;
  return residual <= kFloorZone * stateNorm && residual > 0.1 * previous &&
         aimed <= kTightSolve * previous;
}

bool factorsWornOut(int iterations, double reduced) {
  return iterations >= 4 && reduced > std::pow(0.5, iterations);
}

}  // namespace plume::steady
