// What the bands of a production sweep share, and how they keep the bits of
// one thread running bands 1..4 in order. There a band's first row reads the
// next band's last row as it was before the pass, and its last row reads the
// previous band's first row as stored in this pass. At any thread count the
// first row reads a copy of the neighbour's edge row taken before the pass,
// and the last row waits until the previous band has stored (the columns it
// needs of) its first row, which that band does first, so the wait is
// practically never taken. No barrier joins the bands.
#pragma once

#include <immintrin.h>
#include <sched.h>

#include <cstdint>

#include "solver/bands.h"
#include "solver/kernel_workspace.h"
#include "state/grid.h"

namespace plume {
namespace {

using namespace plume::kernel;

// Progress along a band's first row in this pass: pass number * 1024 + the
// last column stored. The next band's last row waits for the columns it reads.
inline void publishFirstRow(Workspace& ws, int band, int column) {
  __atomic_store_n(&ws.bandProgress[band].firstRowDone, ws.passNumber * 1024 + column,
                   __ATOMIC_RELEASE);
}

inline void awaitFirstRow(const Workspace& ws, int band, int column) {
  const std::uint64_t want = ws.passNumber * 1024 + column;
  for (int spins = 0;
       __atomic_load_n(&ws.bandProgress[band].firstRowDone, __ATOMIC_ACQUIRE) < want;
       ++spins) {
    if (spins < 1000)
      _mm_pause();
    else
      sched_yield();  // the other band's thread may have been descheduled
  }
}

// Row that band `band` reads above its first row, for a field whose edge
// rows were copied into `edge`.
inline const double* eastOfTop(int band, const double (&edge)[3][kPad], const Field& f) {
  return band < 3 ? edge[band] : f[kBandTop[3] + 1];
}

// Rows 151, 301 and 451 as they are before a pass, for the first rows of
// bands 1-3.
void copyEdgeRows(const Field& f, double (&edge)[3][kPad]) {
  for (int b = 0; b < 3; ++b)
    for (int j = 0; j <= NY; ++j) edge[b][j] = f[kBandBottom[b + 1]][j];
}

}  // namespace
}  // namespace plume
