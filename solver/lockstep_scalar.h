// Rows of a band in groups of eight run in lockstep, one node at a time: the
// path of builds without a vector instruction set.
//
// In a band, node (i, j) depends only on (i, j-1) and on row i+1 at column j,
// both updated before it. A group of G rows r, r-1, ... runs along a skewed
// diagonal: at step c row r-k updates column c-k. Each node then reads
// exactly the values the row-by-row order gives it: (i, j-1) and (i+1, j)
// new, (i-1, j) and (i, j+1) old; the G independent updates of a step
// overlap in the processor.
#pragma once

#include "solver/band_sync.h"
#include "solver/kernel_nodes.h"
#include "solver/kernel_weights.h"

namespace plume {
namespace {

constexpr int kGroup = 8;  // rows run in lockstep

// Steps of a group of G rows in lockstep: at step c, lane k (row r-k) visits
// column c-k. Lanes go in descending order, so lane k still finds lane k-1's
// value of the previous step, its east neighbour.
template <int G, class Visit>
inline void lockstep(Visit visit) {
  for (int c = 1; c <= kLast + G - 1; ++c) {
#pragma GCC unroll 16
    for (int k = G - 1; k >= 0; --k) {
      const int j = c - k;
      if (j >= 1 && j <= kLast) visit(k, j);
    }
  }
}

// Temperature of rows r, r-1, ..., r-G+1 in lockstep; `east0` is row r+1.
template <int G>
struct TemperatureGroup {
  static void go(State& st, const Workspace& ws, int r, const double* east0) {
    Field& T = st.T;
    double last[G];  // each row's latest new value: the south of its next node
    for (int k = 0; k < G; ++k) last[k] = T[r - k][0];
    lockstep<G>([&](int k, int j) {
      const int i = r - k;
      double v = temperatureAt(st, ws, i, j, last[k], k == 0 ? east0[j] : last[k - 1]);
      T[i][j] = v;
      last[k] = v;
    });
  }
};

// Vorticity and stream function of rows r .. r-G+1 in lockstep; the new
// vorticity goes to `out` (row k of the group at out[k * kPad + j]) for the
// band sum.
template <int G>
struct VorticityGroup {
  static void go(State& st, const Workspace& ws, double Gr, int r, const double* eastOmega0,
                 const double* eastPsi0, double* out) {
    Field &Omega = st.Omega, &Psi = st.Psi;
    double lastOmega[G], lastPsi[G];
    for (int k = 0; k < G; ++k) {
      lastOmega[k] = Omega[r - k][0];
      lastPsi[k] = Psi[r - k][0];
    }
    lockstep<G>([&](int k, int j) {
      const int i = r - k;
      double w =
          vorticityAt(st, ws, Gr, i, j, lastOmega[k], k == 0 ? eastOmega0[j] : lastOmega[k - 1]);
      Omega[i][j] = w;
      out[k * kPad + j] = w;
      lastOmega[k] = w;
      double p = streamFunctionAt(st, i, j, lastPsi[k], k == 0 ? eastPsi0[j] : lastPsi[k - 1], w);
      Psi[i][j] = p;
      lastPsi[k] = p;
    });
  }
};

template <template <int> class Run, class... Args>
void runGroup(int size, Args&&... args) {
  switch (size) {
    case 8: Run<8>::go(args...); break;
    case 7: Run<7>::go(args...); break;
    case 6: Run<6>::go(args...); break;
    case 5: Run<5>::go(args...); break;
    case 4: Run<4>::go(args...); break;
    case 3: Run<3>::go(args...); break;
    case 2: Run<2>::go(args...); break;
    default: Run<1>::go(args...); break;
  }
}

// Temperature of a band's rows below the axis row.
void temperatureRowsScalar(State& st, Workspace& ws, double pr, int band) {
  Field& T = st.T;
  const int top = kBandTop[band], bottom = kBandBottom[band];
  for (int i = top; i >= bottom; --i) computeWeights(ws, st.Psi, pr, i);
  for (int r = top; r >= bottom; r -= kGroup) {
    const int size = r - bottom + 1 < kGroup ? r - bottom + 1 : kGroup;
    if (r - size + 1 == bottom && band > 0) awaitFirstRow(ws, band - 1, kLast);
    runGroup<TemperatureGroup>(size, st, ws, r, r == top ? eastOfTop(band, ws.edgeT, T) : T[r + 1]);
    if (r == top) publishFirstRow(ws, band, kLast);
  }
}

// Vorticity and stream function of a band's rows below the axis row; the
// band sum adds 2*w*w row after row, in visiting order.
void vorticityRowsScalar(State& st, Workspace& ws, const Case& c, int band, double& sum) {
  Field &Omega = st.Omega, &Psi = st.Psi;
  double* rows = ws.lockstepOmega[band];
  const int top = kBandTop[band], bottom = kBandBottom[band];
  for (int r = top; r >= bottom; r -= kGroup) {
    const int size = r - bottom + 1 < kGroup ? r - bottom + 1 : kGroup;
    if (r - size + 1 == bottom && band > 0) awaitFirstRow(ws, band - 1, kLast);
    const bool first = r == top;
    runGroup<VorticityGroup>(size, st, ws, c.Gr, r,
                             first ? eastOfTop(band, ws.edgeOmega, Omega) : Omega[r + 1],
                             first ? eastOfTop(band, ws.edgePsi, Psi) : Psi[r + 1], rows);
    if (first) publishFirstRow(ws, band, kLast);
    for (int k = 0; k < size; ++k)
      for (int j = 1; j <= kLast; ++j) {
        double w = rows[k * kPad + j];
        sum = (w * w) * 2 + sum;
      }
  }
}

}  // namespace
}  // namespace plume
