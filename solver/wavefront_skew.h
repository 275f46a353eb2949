// The vector wavefront's groups and blocks in memory: which lanes hold
// nodes, the skewed loads and stores of a block (lane k at row r-k, column
// c-k; eight row vectors transposed to eight steps), and what a field
// carries from one block of a group to the next.
#pragma once

#include "solver/kernel_weights.h"
#include "solver/simd.h"

namespace plume {
namespace {

constexpr int kBlocks = (kLast + 7 + 7) / 8;  // blocks of eight steps per group

// Lanes k whose node (r-k, c-k) lies in columns 1..919.
inline Mask activeLanes(int c) {
  unsigned m = c >= 8 ? 0xFFu : (1u << c) - 1;
  if (c > kLast) m &= c - kLast >= 8 ? 0u : ~((1u << (c - kLast)) - 1);
  return Mask(m);
}

// out[s] lane k = f[r-k][start+s-k], for rows k in `rows`, columns lo..hi
// (others zero). `Full`: every row and column is in range (no masks).
template <bool Full>
inline void loadSkewed(const double* f, long stride, int r, int start, Mask rows, int lo, int hi,
                       Vec out[8]) {
  for (int k = 0; k < 8; ++k) {
    const int col = start - k;
    const double* p = f + (r - k) * stride + col;
    if constexpr (Full) {
      out[k] = vload(p);
    } else {
      const Mask m = (rows >> k & 1) ? columnMask(col, lo, hi) : 0;
      out[k] = vloadMasked(m, p);
    }
  }
  transpose8(out);
}

// Stores step vectors v[s] (lane k = node (r-k, c0+s-k)) into rows r-k;
// columns 1..919 and lanes in `rows` only.
template <bool Full>
inline void storeSkewed(double* f, int r, int c0, Mask rows, Vec v[8]) {
  transpose8(v);
  for (int k = 0; k < 8; ++k) {
    if (!Full && !(rows >> k & 1)) continue;
    const int col = c0 - k;
    if constexpr (Full)
      vstore(f + (r - k) * long(kCols) + col, v[k]);
    else
      vstoreMasked(f + (r - k) * long(kCols) + col, columnMask(col, 1, kLast), v[k]);
  }
}

// West neighbours: lane k takes lane k+1 of `north`, lane 7 takes extra[s].
inline Vec westOf(Vec north, Vec extra, int s) { return shiftDown(north, extra, s); }

// East neighbours: lane k takes lane k-1 of `prev`, lane 0 takes top[s].
inline Vec eastOf(Vec prev, Vec top, int s) { return shiftUp(prev, top, s); }

struct Group {
  int r;          // top row
  int rows;       // rows in the group (1..8)
  Mask lanes;  // lanes that hold rows
};

inline Group groupOf(int band, int q) {
  const int r = kBandTop[band] - 8 * q;
  const int left = r - kBandBottom[band] + 1;
  const int n = left < 8 ? left : 8;
  return {r, n, Mask((1u << n) - 1)};
}

inline int groupCount(int band) { return (kBandTop[band] - kBandBottom[band] + 8) / 8; }

// Rows a group loads from a field: its own, plus the row below its last lane
// (the west neighbour of that lane) when the group has fewer than 8 rows.
inline Mask loadRows(const Group& g) {
  return g.rows < 8 ? Mask((1u << (g.rows + 1)) - 1) : 0xFF;
}

// State a field carries from one block of a group to the next.
struct Carry {
  Vec prev;  // lane k: the last value it stored (south of its next node)
  Vec old;   // lane k: the old value at its next node (only between blocks)
};

inline Carry startCarry(const Field& f, const Group& g) {
  alignas(64) double prev[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < g.rows; ++k) prev[k] = f[g.r - k][0];
  alignas(64) double old[8] = {f[g.r][1], 0, 0, 0, 0, 0, 0, 0};
  return {vloadAligned(prev), vloadAligned(old)};
}

// A field's inputs for one block: the old values, north[s] at step s's nodes
// and north[s + 1] north of them (north[0] carried from the block before),
// the extra west row for lane 7, and the row above the group for lane 0.
// In a full block lane 7's west row and lane 0's top row are read a value
// a step from memory instead (extraRow[s], topRow[s]): no lane to pick out.
struct Inputs {
  Vec north[9];
  Vec extra;
  Vec top;
  const double* extraRow;
  const double* topRow;
};

template <bool Full>
inline Vec westOf(const Inputs& in, int s) {
  return Full ? shiftDownIn(in.north[s + 1], in.extraRow[s])
              : westOf(in.north[s + 1], in.extra, s);
}
template <bool Full>
inline Vec eastOf(Vec prev, const Inputs& in, int s) {
  return Full ? shiftUpIn(prev, in.topRow[s]) : eastOf(prev, in.top, s);
}

template <bool Full>
inline void loadInputs(const Field& f, const double* topRow, const Group& g, int c0,
                       const Carry& cr, Inputs& in) {
  in.north[0] = cr.old;
  loadSkewed<Full>(&f[0][0], kCols, g.r, c0 + 1, loadRows(g), 0, NY, in.north + 1);
  if constexpr (Full) {
    in.extraRow = &f[g.r - 8][c0 - 7];
    in.topRow = topRow + c0;
  } else {
    in.extra =
        g.rows == 8 ? vloadMasked(columnMask(c0 - 7, 0, NY), &f[g.r - 8][c0 - 7]) : vzero();
    in.top = vloadMasked(columnMask(c0, 0, NY), topRow + c0);
  }
}

}  // namespace
}  // namespace plume
