// The three node updates of the production kernels, one node at a time, with
// the row weights of computeWeights (kernel_weights.h). The
// operations and their order are those of node_update.h; divisions by the
// grid constants use the exact divisions, which give the same quotients.
#pragma once

#include "solver/bands.h"
#include "solver/exact_division.h"
#include "solver/kernel_workspace.h"
#include "state/state.h"

namespace plume {
namespace {

using namespace plume::kernel;

// aP as the literal aP adds it: ((aW + aS) + aE) + aN.
inline double centreWeight(const Workspace& ws, int i, int j) {
  return ((ws.weightW[i][j] + ws.weightS[i][j]) + ws.weightE[i][j]) + ws.weightN[i][j];
}

// s / ap. Where the flow is too slow to change the weights, each is 1/(h*h)
// and ap is the constant 4/(h*h) bit for bit; the quotient is then the exact
// division by that constant, which needs no divide instruction.
inline double divideByCentre(double s, double ap) {
  return ap == fourOverHH ? divByFourOverHH(s) : s / ap;
}

// New temperature at (i, j) from its south (this pass) and east values.
inline double temperatureAt(const State& st, const Workspace& ws, int i, int j, double south,
                            double east) {
  const Field& T = st.T;
  double s =
      ((ws.weightS[i][j] * south + ws.weightW[i][j] * T[i - 1][j]) + ws.weightE[i][j] * east) +
      ws.weightN[i][j] * T[i][j + 1];
  return divideByCentre(s, centreWeight(ws, i, j)) + relaxWeight * T[i][j];
}

// New vorticity at (i, j) from its south (this pass) and east values.
inline double vorticityAt(const State& st, const Workspace& ws, double Gr, int i, int j,
                          double south, double east) {
  const Field &T = st.T, &Omega = st.Omega;
  double s =
      ((ws.weightS[i][j] * south + ws.weightW[i][j] * Omega[i - 1][j]) + ws.weightE[i][j] * east) +
      ws.weightN[i][j] * Omega[i][j + 1];
  s = s + divByTwoH(T[i + 1][j] - T[i - 1][j]) * Gr;
  return divideByCentre(s, centreWeight(ws, i, j)) + relaxWeight * Omega[i][j];
}

// New stream function at (i, j) from its south and east values and the
// node's new vorticity w.
inline double streamFunctionAt(const State& st, int i, int j, double south, double east, double w) {
  const Field& Psi = st.Psi;
  double a = divByHH(south + Psi[i][j + 1]);
  double b = divByHH(Psi[i - 1][j] + east);
  return divByFourOverHH((a + b) + w) + relaxWeight * Psi[i][j];
}

}  // namespace
}  // namespace plume
