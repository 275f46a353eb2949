// Weights of the five-point convection-diffusion operator at node (i, j):
// damped upwind scheme. Each neighbour weight takes the velocity normal to its
// cell face from the stream function, as the mean of two central differences;
// the caller passes the factor that multiplies that velocity (Pr).
// Valid for 1 <= i <= NX-1 and 1 <= j <= NY-1.
#pragma once

#include <cmath>

#include "state/grid.h"

namespace plume {

// Velocity normal to a face from the four stream-function values around it.
inline double faceVelocity(double p1, double p2, double p3, double p4) {
  return (((p1 - p2) + p3) - p4) * 0.25 / h;
}

// Damping of the diffusive part by the face's cell Peclet number.
inline double damping(double e, double convFactor) {
  return 1 / (1 + ((std::fabs(e) * convFactor) * 0.5) * h);
}

// Weight of the upstream-side neighbour for a positive face velocity (W, S).
inline double upwindPlus(double e, double convFactor, double divisor) {
  double s = damping(e, convFactor) + h * (convFactor * (0.5 * (e + std::fabs(e))));
  return s / divisor;
}

// Weight of the downstream-side neighbour for a positive face velocity (E, N).
inline double upwindMinus(double e, double convFactor, double divisor) {
  double s = damping(e, convFactor) - h * (convFactor * (0.5 * (e - std::fabs(e))));
  return s / divisor;
}

inline double aW(int i, int j, double convFactor) {
  double e = faceVelocity(Psi[i - 1][j + 1], Psi[i - 1][j - 1], Psi[i][j + 1], Psi[i][j - 1]);
  return upwindPlus(e, convFactor, hx2);
}

inline double aS(int i, int j, double convFactor) {
  double e = faceVelocity(Psi[i - 1][j - 1], Psi[i + 1][j - 1], Psi[i - 1][j], Psi[i + 1][j]);
  return upwindPlus(e, convFactor, hy2);
}

inline double aE(int i, int j, double convFactor) {
  double e = faceVelocity(Psi[i + 1][j + 1], Psi[i + 1][j - 1], Psi[i][j + 1], Psi[i][j - 1]);
  return upwindMinus(e, convFactor, hx2);
}

inline double aN(int i, int j, double convFactor) {
  double e = faceVelocity(Psi[i - 1][j + 1], Psi[i + 1][j + 1], Psi[i - 1][j], Psi[i + 1][j]);
  return upwindMinus(e, convFactor, hy2);
}

inline double aP(int i, int j, double convFactor) {
  return ((aW(i, j, convFactor) + aS(i, j, convFactor)) + aE(i, j, convFactor)) +
         aN(i, j, convFactor);
}

}  // namespace plume
