// The discrete equations of the three fields at one node: the value a sweep
// gives node (i, j) from the current values around it. The literal sweeps
// apply them in place; the steady solver's residual applies them to a whole
// state at once. `get(field, i, j)` reads a node of the field being solved
// for (the sweeps read band-edge rows atomically); T, in the vorticity
// equation's buoyancy term, and Omega, in the stream-function equation, are
// read directly.
#pragma once

#include "solver/bands.h"
#include "solver/weights.h"
#include "state/grid.h"

namespace plume {

template <class Get>
inline double temperatureUpdate(int i, int j, Get get) {
  double as = aS(i, j, Pr), aw = aW(i, j, Pr), ae = aE(i, j, Pr), an = aN(i, j, Pr);
  double ap = aP(i, j, Pr);
  double s = ((as * get(T, i, j - 1) + aw * get(T, i - 1, j)) + ae * get(T, i + 1, j)) +
             an * get(T, i, j + 1);
  double g = s / ap;
  return g + relaxWeight * get(T, i, j);
}

template <class Get>
inline double vorticityUpdate(int i, int j, Get get) {
  double as = aS(i, j, Pr), aw = aW(i, j, Pr), ae = aE(i, j, Pr), an = aN(i, j, Pr);
  double s = ((as * get(Omega, i, j - 1) + aw * get(Omega, i - 1, j)) + ae * get(Omega, i + 1, j)) +
             an * get(Omega, i, j + 1);
  s = s + ((T[i + 1][j] - T[i - 1][j]) / twoH) * Gr;
  double ap = aP(i, j, Pr);
  double g = s / ap;
  return g + relaxWeight * get(Omega, i, j);
}

template <class Get>
inline double streamFunctionUpdate(int i, int j, Get get) {
  double a = (get(Psi, i, j - 1) + get(Psi, i, j + 1)) / hh;
  double b = (get(Psi, i - 1, j) + get(Psi, i + 1, j)) / hh;
  double g = ((a + b) + Omega[i][j]) / fourOverHH;
  return g + relaxWeight * get(Psi, i, j);
}

// Plain read of a node, for code that runs on one thread.
inline double plainGet(const Field& f, int i, int j) { return f[i][j]; }

}  // namespace plume
