// The calm bits and range flags of the Psi rows a band's groups read: found
// before the band's temperature sweep, reused by its vorticity sweep.
#pragma once

#include "solver/block_weights.h"
#include "solver/wavefront_skew.h"

namespace plume {
namespace {

// The calm bits of row i in band `band`'s rows (Workspace::bandCalm).
inline CalmRow& calmOf(Workspace& ws, int band, int i) {
  return ws.bandCalm[band][i - kBandBottom[band] + 1];
}

// The calm bits of the rows a band's groups read, before its temperature
// sweep.
void findCalmRows(Workspace& ws, const Field& psi, double pr, int band) {
  const Vec limit = vset(stillLimit(pr));
  for (int i = kBandBottom[band] - 1; i <= kBandTop[band] + 1; ++i)
    calmRow(psi, i, limit, calmOf(ws, band, i));
}

// A row's range flag is found when a block first asks for it, in the
// temperature sweep (Psi as before the iteration). The vorticity sweep asks
// for the same rows' flags (its blocks test the same calm bits); should it
// ask for another, Psi has moved on, and the row counts as out of range: the
// checked divisions give the same bits, only slower.
void closeRangeFlags(Workspace& ws, int band) {
  for (CalmRow& c : ws.bandCalm[band])
    if (c.inRange < 0) c.inRange = 0;
}

// Group q's Psi rows straight from Psi (no sweep writes them meanwhile).
inline PsiRows psiRowsOf(Workspace& ws, const Field& psi, int band, int q) {
  const Group g = groupOf(band, q);
  PsiRows p{};
  for (int m = 0; m <= g.rows + 1; ++m) {
    p.row[m] = psi[g.r + 1 - m];
    p.calm[m] = &calmOf(ws, band, g.r + 1 - m);
  }
  p.skewedCalm = ws.bandSkewedCalm[band][q];
  return p;
}

}  // namespace
}  // namespace plume
