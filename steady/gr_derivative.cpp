#include "steady/gr_derivative.h"

#include "solver/weights.h"

namespace plume::steady {

NodeValues nodeGrDerivative(const Evaluation& at, int i, int j) {
  if (isSourceNode(i, j)) return {0.0, 0.0, 0.0};
  const Field& T = at.s.T;
  double buoyancy = (T[i + 1][j] - T[i - 1][j]) / twoH;
  return {0.0, -(buoyancy / aP(at.s.Psi, i, j, at.c.Pr)), 0.0};
}

}  // namespace plume::steady
