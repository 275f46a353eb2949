#include "steady/gr_derivative.h"

#include "solver/weights.h"

namespace plume::steady {

NodeValues nodeGrDerivative(int i, int j) {
  if (isSourceNode(i, j)) return {0.0, 0.0, 0.0};
  double buoyancy = (T[i + 1][j] - T[i - 1][j]) / twoH;
  return {0.0, -(buoyancy / aP(i, j, Pr)), 0.0};
}

}  // namespace plume::steady
