// Inexact Newton: how tight each linear solve is, and when a Newton step that
// gains little has reached the level of rounding.
#pragma once

#include <cfloat>

namespace plume::steady {

// The residual of a state exact to the last bits is about DBL_EPSILON times
// its norm: below a few of those, or once a Newton step gains less than a
// factor 10 below kFloorZone times the norm, Newton has nothing left to gain.
inline constexpr double kFloorFactor = 4 * DBL_EPSILON;
inline constexpr double kFloorZone = 1e-9;

// Relative tolerance of the next linear solve, from a Newton residual
// `residual` that the last step reduced by the factor `gained` (1 at a
// stage's first step): 0.9 gained^1.618, at most 0.1, and no tighter than
// what brings the linear residual to a tenth of the stage's `target`.
double linearTolerance(double gained, double residual, double target);

// True when a Newton step from `previous` to `residual` on a state of norm
// `stateNorm` has found the level of rounding. Its linear solve aimed at the
// residual `aimed`: a small gain counts only after a tight solve (a loose one
// explains it).
bool atRoundingFloor(double residual, double previous, double aimed, double stateNorm);

// True when a linear solve of `iterations` iterations that reduced the linear
// residual by the factor `reduced` shows factors too old for the Jacobian:
// less than a factor 2 per iteration over four or more. A factorisation costs
// about as much as ten applications of the factors; fresh factors gain a
// factor 3 to 10 per iteration.
bool factorsWornOut(int iterations, double reduced);

}  // namespace plume::steady
