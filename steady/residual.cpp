#include "steady/residual.h"

#include "run/wall_vorticity.h"
#include "solver/iteration_step.h"
#include "solver/node_update.h"

namespace plume::steady {

namespace {

constexpr NodeValues kSourceValues{1.0, 0.0, 0.0};

void setSource() {
  T[srcI][srcJ] = kSourceValues.t;
  Omega[srcI][srcJ] = kSourceValues.omega;
  Psi[srcI][srcJ] = kSourceValues.psi;
}

// Columns j0..j1 of row i's mirror row: T the same, Omega and Psi negated.
void mirrorColumns(int i, int j0, int j1) {
  for (int j = j0; j <= j1; ++j) {
    T[NX - i][j] = T[i][j];
    Omega[NX - i][j] = -Omega[i][j];
    Psi[NX - i][j] = -Psi[i][j];
  }
}

}  // namespace

void loadState(NodeRows u, const Block& g) {
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
    mirrorColumns(srcI - 1, g.col0 + 1, g.col0 + g.cols);
  // Only wall nodes next to loaded rows and columns are read.
  applyWallVorticity();
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
  fillMirrorHalf();
  applyWallVorticity();
}

}  // namespace plume::steady
