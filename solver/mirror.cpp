#include "solver/mirror.h"

namespace plume {

void mirrorHalf(Field& t, Field& omega, Field& psi) {
  for (int i = 1; i < axisI; ++i) mirror(t, omega, psi, i, 1, NY - 1);
}

}  // namespace plume
