#include "run/wall_vorticity.h"

#include "state/grid.h"

namespace plume {

void applyWallVorticity() {
  const double f = wallVorticityFactor;
  for (int i = 0; i <= srcI; ++i) {
    Omega[i][0] = f * Psi[i][1];
    Omega[i][NY] = f * Psi[i][NY - 1];
    if (i < srcI) {
      Omega[NX - i][0] = -Omega[i][0];
      Omega[NX - i][NY] = -Omega[i][NY];
    }
  }
  for (int j = 0; j <= NY; ++j) {
    Omega[0][j] = f * Psi[1][j];
    Omega[NX][j] = -Omega[0][j];
  }
}

}  // namespace plume
