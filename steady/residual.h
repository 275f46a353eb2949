// The steady problem as a residual: r(u) = u - G(u), with G the node updates
// of one designed iteration applied Jacobi-style to a whole state u. Its zero
// is the designed iteration's fixed point.
//
// Unknowns are T, Omega and Psi at rows 1 .. 600, columns 1 .. 919 (the
// computed half and the axis row). The source node (600, 20) is held at
// T = 1, Omega = Psi = 0 (its equation is u - held value); the walls follow
// the wall rules and row 601 the mirror rule of row 599.
#pragma once

#include "state/state.h"

namespace plume::steady {

// Rows and columns of unknowns.
inline constexpr int kUnknownRows = NX / 2;  // rows 1 .. 600
inline constexpr int kUnknownCols = NY - 1;  // columns 1 .. 919

// One node's unknowns, in the order the solver's vectors hold them.
struct NodeValues {
  double t, omega, psi;
};

// A rectangle of nodes in unknown coordinates: row r <-> grid row r + 1,
// column c <-> grid column c + 1.
struct Block {
  int row0, col0, rows, cols;
};

// The numbering of unknowns within a block: node by node, row by row, the
// three unknowns of a node together (T, Omega, Psi). The matrix's structure,
// its assembly and the preconditioner's order all number them so.
inline long unknownIndex(int i, int j, int field, const Block& b) {
  return ((long(i) - 1 - b.row0) * b.cols + (j - 1 - b.col0)) * 3 + field;
}

// Grid node and field of unknown `index` of the whole computed half.
struct UnknownPlace {
  int i, j, field;
};
inline UnknownPlace unknownPlace(long index) {
  long node = index / 3;
  return {static_cast<int>(node / kUnknownCols) + 1, static_cast<int>(node % kUnknownCols) + 1,
          static_cast<int>(index % 3)};
}

// The whole computed half as one block.
inline constexpr Block kAllUnknowns{0, 0, kUnknownRows, kUnknownCols};

// Where `u` holds the unknowns of `ghosted`, addressed as u[r][c] in unknown
// coordinates (the layout of a distributed array's local part).
using NodeRows = const NodeValues* const*;

// The state and the case the residual, its Jacobian and the operators built
// from them are evaluated at (the case's wall temperatures are those the
// fields' walls hold).
struct Evaluation {
  const State& s;
  const Case& c;
};

// Stores the unknowns of `ghosted` into the fields of `s` and completes what
// the updates read around them: the source node's held values, row 601 from
// row 599 (when `ghosted` holds it) and the wall vorticity.
void loadState(State& s, NodeRows u, const Block& ghosted);

// True at the source node, whose values are held.
inline bool isSourceNode(int i, int j) { return i == srcI && j == srcJ; }

// Residual at grid node (i, j), 1 <= i <= 600, 1 <= j <= 919, whose
// unknowns are `own`, at `at` (fields as loadState() filled them).
NodeValues nodeResidual(const Evaluation& at, int i, int j, const NodeValues& own);

// Copies the unknowns of `s` into `u` for the nodes of `owned` (u[r][c] in
// unknown coordinates, writable).
void storeState(const State& s, NodeValues* const* u, const Block& owned);

// Sets the mirror half, rows 601 .. 1199, from the computed half, and the
// wall vorticity: `s` then holds a complete state for the designed
// iteration and the result files.
void completeFields(State& s);

}  // namespace plume::steady
