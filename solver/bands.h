// The four bands of rows that a sweep runs in parallel.
//
// Bands 1-3 sweep rows 150 -> 1, 300 -> 151, 450 -> 301; band 4 sweeps the
// axis row first, then rows 599 -> 451. Each row of the computed half, and
// its mirror row, belongs to exactly one band. Rows run downwards within a
// band, columns upwards within a row.
#pragma once

#include "state/grid.h"

namespace plume {

inline constexpr int kBands = 4;
inline constexpr int kBandTop[kBands] = {150, 300, 450, 599};   // first row swept
inline constexpr int kBandBottom[kBands] = {1, 151, 301, 451};  // last row swept

// Weight of a node's old value in every update.
inline constexpr double relaxWeight = 0.0;

// Rows whose nodes two bands touch in one sweep: each band's first row reads
// the next band's last row and vice versa.
inline constexpr bool isBandEdgeRow(int i) {
  return i == 150 || i == 151 || i == 300 || i == 301 || i == 450 || i == 451;
}

}  // namespace plume
