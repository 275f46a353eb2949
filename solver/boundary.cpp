#include "solver/boundary.h"

#include "solver/mirror.h"

namespace plume {

void applyWallVorticity(Field& omega, const Field& psi) {
  const double f = wallVorticityFactor;
  for (int i = 0; i <= axisI; ++i) {
    omega[i][0] = f * psi[i][1];
    omega[i][NY] = f * psi[i][NY - 1];
  }
  for (int j = 0; j <= NY; ++j) omega[0][j] = f * psi[1][j];
  mirrorWallVorticity(omega);
}

void holdBoundary(State& s) {
  applyWallVorticity(s.Omega, s.Psi);
  s.T[srcI][srcJ] = kSourceTemperature;
}

void mirrorWallVorticity(Field& omega) {
  for (int i = 0; i < axisI; ++i) {
    mirror(omega, kParityOmega, i, 0, 0);
    mirror(omega, kParityOmega, i, NY, NY);
  }
  mirror(omega, kParityOmega, 0, 0, NY);
}

}  // namespace plume
