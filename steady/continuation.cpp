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

double extrapolationWeight(double before, double accepted, double next) {
  if (before == accepted) return 0.0;
  const bool logScale = before != 0 && accepted != 0 && next != 0 &&
                        std::signbit(before) == std::signbit(accepted) &&
                        std::signbit(accepted) == std::signbit(next);
  if (logScale) {
    const double a = std::log(std::fabs(accepted));
    return (std::log(std::fabs(next)) - a) / (a - std::log(std::fabs(before)));
  }
  return (next - accepted) / (accepted - before);
}

}  // namespace plume::steady
