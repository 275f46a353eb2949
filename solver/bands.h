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
inline constexpr int kAxisRow = NX / 2;               // the axis row, srcI = axisI
inline constexpr int kBandRows = kAxisRow / kBands;   // rows of bands 1-3

// First row swept (the top one) and last row swept, per band; band 4's rows
// below the axis row.
inline constexpr int bandTop(int band) {
  return band < kBands - 1 ? (band + 1) * kBandRows : kAxisRow - 1;
}
inline constexpr int bandBottom(int band) { return band * kBandRows + 1; }
inline constexpr int kBandTop[kBands] = {bandTop(0), bandTop(1), bandTop(2), bandTop(3)};
inline constexpr int kBandBottom[kBands] = {bandBottom(0), bandBottom(1), bandBottom(2),
                                            bandBottom(3)};
static_assert(kBandTop[0] == 150 && kBandTop[3] == 599 && kBandBottom[3] == 451);

// Weight of a node's old value in every update, g + relaxWeight * old. The
// term adds nothing to a finite g, yet it changes bits and must stay:
//  * signed zeros: relaxWeight * old is +0.0 for an old value that is +0.0
//    or positive, and -0.0 + +0.0 = +0.0, so a new value of -0.0 becomes
//    +0.0 there (the mirror and the wall vorticity then negate it to -0.0);
//  * NaN propagation: for an old value that is infinite or NaN the product
//    is NaN, so the node becomes NaN whatever g is, and a diverged field
//    stays diverged until the residual test stops the run.
inline constexpr double relaxWeight = 0.0;

// Rows whose nodes two bands touch in one sweep: each band's first row reads
// the next band's last row and vice versa.
inline constexpr bool isBandEdgeRow(int i) {
  for (int band = 0; band + 1 < kBands; ++band)
    if (i == kBandTop[band] || i == kBandBottom[band + 1]) return true;
  return false;
}
static_assert(isBandEdgeRow(150) && isBandEdgeRow(451) && !isBandEdgeRow(149) && !isBandEdgeRow(1));

}  // namespace plume
