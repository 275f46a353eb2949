// The derivative of the steady residual in Gr. Gr multiplies only the
// buoyancy term of the vorticity equation, (T[i+1][j] - T[i-1][j]) / 2h, and
// no weight depends on it: the derivative is that term divided by the centre
// weight, negated, on the vorticity rows, and zero elsewhere.
#pragma once

#include "steady/residual.h"

namespace plume::steady {

// d(residual)/dGr at grid node (i, j), 1 <= i <= 600, 1 <= j <= 919, at `at`
// (fields as loadState() filled them).
NodeValues nodeGrDerivative(const Evaluation& at, int i, int j);

}  // namespace plume::steady
