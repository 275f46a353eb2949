#include "steady/continuation.h"

#include <algorithm>
#include <cmath>

namespace plume::steady {

namespace {

constexpr int kQuickStage = 4;
constexpr double kSmallestStep = 1e-3;  // of the wanted Gr

}  // namespace

Continuation startContinuation(double from, double target) {
  const double distance = target - from;
  if (std::fabs(distance) <= std::max(kDirectGr, std::fabs(from)))
    return {target, from, distance, target};
  const double step = std::copysign(std::max(kFirstStep, std::fabs(from)), distance);
  return {target, from, step, from + step};
}

bool nextStage(Continuation& c, bool converged, int steps) {
  if (converged) {
    c.accepted = c.gr;
    if (steps <= kQuickStage) c.step *= 2;
  } else {
    c.step /= 2;
    // Beyond |Gr| = 10^8 the first steps from the initial state are that
    // short; they only grow.
    if (std::fabs(c.step) < std::fabs(c.target) * kSmallestStep) return false;
  }
  c.gr = c.accepted + c.step;
  if (c.step > 0 ? c.gr >= c.target : c.gr <= c.target) {
    c.gr = c.target;
    c.step = c.target - c.accepted;
  }
  return true;
}

}  // namespace plume::steady
