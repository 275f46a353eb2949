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
  pipeline(ws, band, ahead, prepare, [&](int q, int c0, auto full) {
    constexpr bool Full = decltype(full)::value;
    const Group g = groupOf(band, q);
    const double* topRow = q == 0 ? eastOfTop(band, ws.edgeT, T) : T[g.r + 1];
    Carry& cr = carry[q];
    Inputs in;
    loadInputs<Full>(T, topRow, g, c0, cr, in);
    withWeights(ahead.of(q, (c0 - 1) / 8), [&](const auto& wt) {
      Vec out[8];
      for (int s = 0; s < 8; ++s)
        out[s] = temperatureStep<Full>(wt, in, cr, s, Full ? 0xFF : g.lanes & activeLanes(c0 + s));
      storeSkewed<Full>(&T[0][0], g.r, c0, g.lanes, out);
    });
    cr.old = in.north[8];
  }, [&](int q0, int t) {
    Inputs in[kWindow];
    Carry cr[kWindow];
    Vec out[kWindow][8];
    for (int m = 0; m < kWindow; ++m) {
      const Group g = groupOf(band, q0 + m);
      cr[m] = carry[q0 + m];
      const double* topRow = q0 + m == 0 ? eastOfTop(band, ws.edgeT, T) : T[g.r + 1];
      loadInputs<true>(T, topRow, g, 1 + 8 * (t - kLag * m), cr[m], in[m]);
    }
    // Steps unrolled by two only: eight times three step bodies, for each
    // kind of weights, overflow the instruction cache (measured slower).
    auto steps = [&](auto weights) {
#pragma GCC unroll 2
      for (int s = 0; s < 8; ++s)
#pragma GCC unroll 3
        for (int m = 0; m < kWindow; ++m)
          out[m][s] = temperatureStep<true>(weights(m), in[m], cr[m], s, kAllLanes);
    };
    withWindowWeights(ahead, q0, t, steps);
    for (int m = 0; m < kWindow; ++m) {
      storeSkewed<true>(&T[0][0], groupOf(band, q0 + m).r, 1 + 8 * (t - kLag * m), 0xFF, out[m]);
      cr[m].old = in[m].north[8];
      carry[q0 + m] = cr[m];
    }
  }, [](int, int) {});
}

}  // namespace
}  // namespace plume
