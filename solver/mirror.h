// The mirror rule. The flow is symmetric about the axis row: row NX - i
// mirrors row i, with T the same there and Omega and Psi negated. The sweeps
// compute rows 1 .. 600; the mirror half is filled from them by this rule.
#pragma once

#include "state/grid.h"

namespace plume {

// How a field's mirror row relates to its row.
enum class Parity { Even, Odd };
inline constexpr Parity kParityT = Parity::Even;
inline constexpr Parity kParityOmega = Parity::Odd;
inline constexpr Parity kParityPsi = Parity::Odd;

// The value at the mirror node of a node holding v.
constexpr double mirrored(Parity p, double v) { return p == Parity::Odd ? -v : v; }

// Columns j0 .. j1 of row i's mirror row, from row i.
inline void mirror(Field& f, Parity p, int i, int j0, int j1) {
  for (int j = j0; j <= j1; ++j) f[mirrorRow(i)][j] = mirrored(p, f[i][j]);
}

// Columns j0 .. j1 of row i's mirror row in all three fields.
inline void mirror(Field& t, Field& omega, Field& psi, int i, int j0, int j1) {
  mirror(t, kParityT, i, j0, j1);
  mirror(omega, kParityOmega, i, j0, j1);
  mirror(psi, kParityPsi, i, j0, j1);
}

// The interior of the mirror half, rows 601 .. 1199, from rows 599 .. 1.
void mirrorHalf(Field& t, Field& omega, Field& psi);

}  // namespace plume
