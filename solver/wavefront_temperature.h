// The vector wavefront's temperature sweep of a band's rows below the axis.
#pragma once

#include "solver/wavefront_calm.h"
#include "solver/wavefront_schedule.h"
#include "solver/wavefront_update.h"

namespace plume {
namespace {

// Temperature of step s of a block; only the `active` lanes (nodes in
// range) carry their value on (all of them in a full block). The steps are
// inlined into the interleaved blocks whatever the compiler's estimate of
// their size: their operations overlap only there.
template <bool Full, class W>
[[gnu::always_inline]] inline Vec temperatureStep(const W& wt, const Inputs& in, Carry& cr, int s,
                                                  Mask active) {
  Vec west = westOf<Full>(in, s);
  Vec east = eastOf<Full>(cr.prev, in, s);
  Vec sum = neighbourSum(wt, s, cr.prev, west, east, in.north[s + 1]);
  Vec v = relaxed(divideByCentre(wt, s, sum), in.north[s]);
  cr.prev = Full ? v : vselect(active, cr.prev, v);
  return v;
}

// The temperature of the blocks of groups q0 .. q0+M-1 of a band, group
// q0+m at block t - kLag*m: one group's block (M = 1, `Full` when it needs
// no masks), or a window of kWindow groups whose blocks are full, run step
// by step interleaved. Only the `active` lanes (nodes in range) carry their
// value on.
template <int M, bool Full>
[[gnu::always_inline]] inline void temperatureBlocks(Field& T, const Workspace& ws, int band,
                                                     Ahead ahead, Carry* carry, int q0, int t) {
  Inputs in[M];
  Carry cr[M];
  Vec out[M][8];
  for (int m = 0; m < M; ++m) {
    const Group g = groupOf(band, q0 + m);
    cr[m] = carry[q0 + m];
    const double* topRow = q0 + m == 0 ? eastOfTop(band, ws.edgeT, T) : T[g.r + 1];
    loadInputs<Full>(T, topRow, g, 1 + 8 * (t - kLag * m), cr[m], in[m]);
  }
  auto step = [&](auto weights, int m, int s) {
    Mask active = kAllLanes;
    if constexpr (!Full)
      active = groupOf(band, q0 + m).lanes & activeLanes(1 + 8 * (t - kLag * m) + s);
    out[m][s] = temperatureStep<Full>(weights(m), in[m], cr[m], s, active);
  };
  withWindowWeights<M>(ahead, q0, t, [&](auto weights) {
    if constexpr (M == 1) {
      for (int s = 0; s < 8; ++s) step(weights, 0, s);
    } else {
      // Steps unrolled by two only: eight times three step bodies, for each
      // kind of weights, overflow the instruction cache (measured slower).
#pragma GCC unroll 2
      for (int s = 0; s < 8; ++s)
#pragma GCC unroll 3
        for (int m = 0; m < M; ++m) step(weights, m, s);
    }
  });
  for (int m = 0; m < M; ++m) {
    const Group g = groupOf(band, q0 + m);
    storeSkewed<Full>(&T[0][0], g.r, 1 + 8 * (t - kLag * m), Full ? Mask(0xFF) : g.lanes, out[m]);
    cr[m].old = in[m].north[8];
    carry[q0 + m] = cr[m];
  }
}

void temperatureRowsSimd(State& st, Workspace& ws, double pr, int band) {
  Field& T = st.T;
  const int groups = groupCount(band);
  Ahead ahead{ws.ahead[band]};
  ahead.d.band = band;
  ahead.d.field = &T;
  ahead.d.vorticity = false;
  ahead.d.pr = pr;
  findCalmRows(ws, st.Psi, pr, band);
  for (int q = 0; q < groups; ++q) {
    ahead.d.rows[q] = psiRowsOf(ws, st.Psi, band, q);
    skewCalmRows(ahead.d.rows[q].calm, groupOf(band, q).rows + 2, ws.bandSkewedCalm[band][q]);
  }
  Carry carry[kMaxGroups];
  for (int q = 0; q < groups; ++q) carry[q] = startCarry(T, groupOf(band, q));
  auto prepare = [](int, int) {};
  pipeline(
      ws, band, ahead, prepare,
      [&](int q, int c0, auto full) {
        temperatureBlocks<1, decltype(full)::value>(T, ws, band, ahead, carry, q, (c0 - 1) / 8);
      },
      [&](int q0, int t) { temperatureBlocks<kWindow, true>(T, ws, band, ahead, carry, q0, t); },
      [](int, int) {});
}

}  // namespace
}  // namespace plume
