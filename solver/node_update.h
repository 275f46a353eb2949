// The discrete equations of the three fields at one node: the value a sweep
// gives node (i, j) from the current values around it. The literal sweeps
// apply them in place; the steady solver's residual applies them to a whole
// state at once. `get(field, i, j)` reads a node of the field being solved
// for (the sweeps read band-edge rows atomically); T, in the vorticity
// equation's buoyancy term, and Omega, in the stream-function equation, are
// read directly. The weights read Psi and the case's Pr.
#pragma once

#include "solver/bands.h"
#include "solver/weights.h"
#include "state/state.h"

namespace plume {

template <class Get>
inline double temperatureUpdate(const State& st, const Case& c, int i, int j, Get get) {
  const Field &Psi = st.Psi, &T = st.T;
  const double Pr = c.Pr;
  double as = aS(Psi, i, j, Pr), aw = aW(Psi, i, j, Pr), ae = aE(Psi, i, j, Pr),
         an = aN(Psi, i, j, Pr);
  double ap = aP(Psi, i, j, Pr);
  double s = ((as * get(T, i, j - 1) + aw * get(T, i - 1, j)) + ae * get(T, i + 1, j)) +
             an * get(T, i, j + 1);
  double g = s / ap;
  return g + relaxWeight * get(T, i, j);
}

template <class Get>
inline double vorticityUpdate(const State& st, const Case& c, int i, int j, Get get) {
  const Field &Psi = st.Psi, &Omega = st.Omega, &T = st.T;
  const double Pr = c.Pr, Gr = c.Gr;
  double as = aS(Psi, i, j, Pr), aw = aW(Psi, i, j, Pr), ae = aE(Psi, i, j, Pr),
         an = aN(Psi, i, j, Pr);
  double s = ((as * get(Omega, i, j - 1) + aw * get(Omega, i - 1, j)) + ae * get(Omega, i + 1, j)) +
             an * get(Omega, i, j + 1);
  s = s + ((T[i + 1][j] - T[i - 1][j]) / twoH) * Gr;
  double ap = aP(Psi, i, j, Pr);
  double g = s / ap;
  return g + relaxWeight * get(Omega, i, j);
}

template <class Get>
inline double streamFunctionUpdate(const State& st, int i, int j, Get get) {
  const Field &Psi = st.Psi, &Omega = st.Omega;
  double a = (get(Psi, i, j - 1) + get(Psi, i, j + 1)) / hh;
  double b = (get(Psi, i - 1, j) + get(Psi, i + 1, j)) / hh;
  double g = ((a + b) + Omega[i][j]) / fourOverHH;
  return g + relaxWeight * get(Psi, i, j);
}

// Plain read of a node, for code that runs on one thread.
inline double plainGet(const Field& f, int i, int j) { return f[i][j]; }

}  // namespace plume
