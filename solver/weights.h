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

// Velocities normal to the four faces of node (i, j) of stream function
// `psi`, positive towards +x (W, E) and +y (S, N).
inline double velocityW(const Field& psi, int i, int j) {
  return faceVelocity(psi[i - 1][j + 1], psi[i - 1][j - 1], psi[i][j + 1], psi[i][j - 1]);
}
inline double velocityS(const Field& psi, int i, int j) {
  return faceVelocity(psi[i - 1][j - 1], psi[i + 1][j - 1], psi[i - 1][j], psi[i + 1][j]);
}
inline double velocityE(const Field& psi, int i, int j) {
  return faceVelocity(psi[i + 1][j + 1], psi[i + 1][j - 1], psi[i][j + 1], psi[i][j - 1]);
}
inline double velocityN(const Field& psi, int i, int j) {
  return faceVelocity(psi[i - 1][j + 1], psi[i + 1][j + 1], psi[i - 1][j], psi[i + 1][j]);
}

inline double aW(const Field& psi, int i, int j, double convFactor) {
  return upwindPlus(velocityW(psi, i, j), convFactor, hx2);
}

inline double aS(const Field& psi, int i, int j, double convFactor) {
  return upwindPlus(velocityS(psi, i, j), convFactor, hy2);
}

inline double aE(const Field& psi, int i, int j, double convFactor) {
  return upwindMinus(velocityE(psi, i, j), convFactor, hx2);
}

inline double aN(const Field& psi, int i, int j, double convFactor) {
  return upwindMinus(velocityN(psi, i, j), convFactor, hy2);
}

inline double aP(const Field& psi, int i, int j, double convFactor) {
  return ((aW(psi, i, j, convFactor) + aS(psi, i, j, convFactor)) + aE(psi, i, j, convFactor)) +
         aN(psi, i, j, convFactor);
}

}  // namespace plume
