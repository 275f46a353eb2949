#include "steady/residual.h"

#include "solver/boundary.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "solver/node_update.h"

namespace plume::steady {

namespace {

constexpr NodeValues kSourceValues{kSourceTemperature, 0.0, 0.0};

void setSource() {
  T[srcI][srcJ] = kSourceValues.t;
  Omega[srcI][srcJ] = kSourceValues.omega;
  Psi[srcI][srcJ] = kSourceValues.psi;
}

}  // namespace

void loadState(const ParameterValues& c, NodeRows u, const Block& g) {
  Gr = c.Gr;
  Pr = c.Pr;
  for (int r = g.row0; r < g.row0 + g.rows; ++r)
    for (int c = g.col0; c < g.col0 + g.cols; ++c) {
      const NodeValues& v = u[r][c];
      T[r + 1][c + 1] = v.t;
      Omega[r + 1][c + 1] = v.omega;
      Psi[r + 1][c + 1] = v.psi;
    }
  setSource();
  // The axis row reads row 601; it is held here whenever row 599 is.
  const int r599 = srcI - 2;
  if (g.row0 <= r599 && r599 < g.row0 + g.rows)
    mirror(T, Omega, Psi, srcI - 1, g.col0 + 1, g.col0 + g.cols);
  // Only wall nodes next to loaded rows and columns are read.
  applyWallVorticity(Omega, Psi);
}

NodeValues nodeResidual(int i, int j, const NodeValues& own) {
  if (isSourceNode(i, j))
    return {own.t - kSourceValues.t, own.omega - kSourceValues.omega,
            own.psi - kSourceValues.psi};
  return {own.t - temperatureUpdate(i, j, plainGet), own.omega - vorticityUpdate(i, j, plainGet),
          own.psi - streamFunctionUpdate(i, j, plainGet)};
}

void storeState(NodeValues* const* u, const Block& o) {
  for (int r = o.row0; r < o.row0 + o.rows; ++r)
    for (int c = o.col0; c < o.col0 + o.cols; ++c)
      u[r][c] = {T[r + 1][c + 1], Omega[r + 1][c + 1], Psi[r + 1][c + 1]};
}

void completeFields() {
  mirrorHalf(T, Omega, Psi);
  applyWallVorticity(Omega, Psi);
}

}  // namespace plume::steady
