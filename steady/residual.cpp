#include "steady/residual.h"

#include "solver/boundary.h"
#include "solver/mirror.h"
#include "solver/node_update.h"

namespace plume::steady {

namespace {

constexpr NodeValues kSourceValues{kSourceTemperature, 0.0, 0.0};

void setSource(State& s) {
  s.T[srcI][srcJ] = kSourceValues.t;
  s.Omega[srcI][srcJ] = kSourceValues.omega;
  s.Psi[srcI][srcJ] = kSourceValues.psi;
}

}  // namespace

void loadState(State& s, NodeRows u, const Block& g) {
  for (int r = g.row0; r < g.row0 + g.rows; ++r)
    for (int c = g.col0; c < g.col0 + g.cols; ++c) {
      const NodeValues& v = u[r][c];
      s.T[r + 1][c + 1] = v.t;
      s.Omega[r + 1][c + 1] = v.omega;
      s.Psi[r + 1][c + 1] = v.psi;
    }
  setSource(s);
  // The axis row reads row 601; it is held here whenever row 599 is.
  const int r599 = srcI - 2;
  if (g.row0 <= r599 && r599 < g.row0 + g.rows)
    mirror(s.T, s.Omega, s.Psi, srcI - 1, g.col0 + 1, g.col0 + g.cols);
  // Only wall nodes next to loaded rows and columns are read.
  applyWallVorticity(s.Omega, s.Psi);
}

NodeValues nodeResidual(const Evaluation& at, int i, int j, const NodeValues& own) {
  if (isSourceNode(i, j))
    return {own.t - kSourceValues.t, own.omega - kSourceValues.omega,
            own.psi - kSourceValues.psi};
  return {own.t - temperatureUpdate(at.s, at.c, i, j, plainGet),
          own.omega - vorticityUpdate(at.s, at.c, i, j, plainGet),
          own.psi - streamFunctionUpdate(at.s, i, j, plainGet)};
}

void storeState(const State& s, NodeValues* const* u, const Block& o) {
  for (int r = o.row0; r < o.row0 + o.rows; ++r)
    for (int c = o.col0; c < o.col0 + o.cols; ++c)
      u[r][c] = {s.T[r + 1][c + 1], s.Omega[r + 1][c + 1], s.Psi[r + 1][c + 1]};
}

void completeFields(State& s) {
  mirrorHalf(s.T, s.Omega, s.Psi);
  applyWallVorticity(s.Omega, s.Psi);
}

}  // namespace plume::steady
