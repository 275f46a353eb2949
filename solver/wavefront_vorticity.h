// The vector wavefront's vorticity and stream-function sweep of a band's rows
// below the axis, with the band's sum of squared vorticity.
#pragma once

#include <algorithm>

#include "solver/band_sum.h"
#include "solver/wavefront_calm.h"
#include "solver/wavefront_schedule.h"
#include "solver/wavefront_update.h"

namespace plume {
namespace {

// Nodes of the band sum added per step: enough to keep up with the wavefront
// (eight rows of 919 nodes in 116 blocks of eight steps).
constexpr int kSumPerStep = (8 * kLast / kBlocks + 1 + 7) / 8;

// The band's sum of 2*w*w over its finished rows, in visiting order (rows
// downwards, columns upwards). Its additions form one dependent chain; a few
// nodes are added per wavefront step (rows of the previous window), where
// they overlap with the wavefront's work instead of running on their own.
// Vectors of terms too small to change the sum are skipped (band_sum_skip.h).
struct BandSum {
  const Field& Omega;
  double& sum;
  int row;      // next node to add: (row, column)
  int column;
  int bottom;   // rows down to this one are finished

  // Adds up to n nodes.
  void advance(int n) {
    while (n > 0 && row >= bottom) {
      const double* w = Omega[row];
      const int end = column + n <= kLast + 1 ? column + n : kLast + 1;
      double s = sum;
      const Vec halfUlp = halfUlpOf(s);  // of the sum so far: no larger than later
      int j = column;
      for (; j + 8 <= end; j += 8) {
        const Vec terms = termsOf(w + j);
        if (negligible(terms, halfUlp)) continue;
        alignas(64) double t[8];
        vstoreAligned(t, terms);
        for (int k = 0; k < 8; ++k) s = t[k] + s;
      }
      for (; j < end; ++j) s = (w[j] * w[j]) * 2 + s;
      sum = s;
      n -= end - column;
      column = end;
      if (column > kLast) {
        column = 1;
        --row;
      }
    }
  }
};

// Buoyancy source ((T[i+1][j] - T[i-1][j]) / 2h) * Gr of row i.
inline void computeBuoyancy(const Field& T, double Gr, int i, double* out) {
  const Vec gr = vset(Gr);
  for (int j = 1; j <= kLast; j += 8) {
    Vec d = vsub(vload(&T[i + 1][j]), vload(&T[i - 1][j]));
    vstore(out + j, vmul(divByTwoH(d), gr));
  }
}

// Vorticity and stream function of step s of a block; only the `active`
// lanes carry their values on (all of them in a full block); inlined as the
// temperature steps are.
template <bool Full, class W>
[[gnu::always_inline]] inline void vorticityStep(const W& wt, const Inputs& om, const Inputs& ps,
                                                 Vec source, Carry& co, Carry& cp, int s,
                                                 Mask active, Vec& outOmega, Vec& outPsi) {
  Vec west = westOf<Full>(om, s);
  Vec east = eastOf<Full>(co.prev, om, s);
  Vec total = vadd(neighbourSum(wt, s, co.prev, west, east, om.north[s + 1]), source);
  Vec w = relaxed(divideByCentre(wt, s, total), om.north[s]);
  if (!Full) w = vselect(active, vzero(), w);  // idle lanes: 0, on the fast division path
  co.prev = Full ? w : vselect(active, co.prev, w);
  outOmega = w;
  Vec a = divByHH(vadd(cp.prev, ps.north[s + 1]));
  Vec b = divByHH(vadd(westOf<Full>(ps, s), eastOf<Full>(cp.prev, ps, s)));
  Vec p = relaxed(divByFourOverHH(vadd(vadd(a, b), w)), ps.north[s]);
  cp.prev = Full ? p : vselect(active, cp.prev, p);
  outPsi = p;
}

// The vorticity and stream function of the blocks of groups q0 .. q0+M-1 of
// a band, group q0+m at block t - kLag*m: one group's block (M = 1, `Full`
// when it needs no masks), or a window of kWindow groups whose blocks are
// full, run step by step interleaved; the band sum advances with the steps.
// `buoyancy`: the source rows of the current window, whose first group is
// `window`.
template <int M, bool Full>
[[gnu::always_inline]] inline void vorticityBlocks(Field& Omega, Field& Psi, const Workspace& ws,
                                                   int band, Ahead ahead, Carry* omegaCarry,
                                                   Carry* psiCarry,
                                                   const double (&buoyancy)[kWindow * 8][kPad],
                                                   int window, BandSum& bandSum, int q0, int t) {
  Inputs om[M], ps[M];
  Carry co[M], cp[M];
  Vec source[M][8], outOmega[M][8], outPsi[M][8];
  for (int m = 0; m < M; ++m) {
    const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
    const Group g = groupOf(band, q);
    co[m] = omegaCarry[q];
    cp[m] = psiCarry[q];
    const bool first = q == 0;
    loadInputs<Full>(Omega, first ? eastOfTop(band, ws.edgeOmega, Omega) : Omega[g.r + 1], g, c0,
                     co[m], om[m]);
    loadInputs<Full>(Psi, first ? eastOfTop(band, ws.edgePsi, Psi) : Psi[g.r + 1], g, c0, cp[m],
                     ps[m]);
    loadSkewed<Full>(buoyancy[8 * (q - window)], -kPad, 0, c0, Full ? Mask(0xFF) : g.lanes, 1,
                     kLast, source[m]);
  }
  auto step = [&](auto weights, int m, int s) {
    Mask active = kAllLanes;
    if constexpr (!Full)
      active = groupOf(band, q0 + m).lanes & activeLanes(1 + 8 * (t - kLag * m) + s);
    vorticityStep<Full>(weights(m), om[m], ps[m], source[m][s], co[m], cp[m], s, active,
                        outOmega[m][s], outPsi[m][s]);
  };
  withWindowWeights<M>(ahead, q0, t, [&](auto weights) {
    if constexpr (M == 1) {
      for (int s = 0; s < 8; ++s) {
        step(weights, 0, s);
        bandSum.advance(kSumPerStep);
      }
    } else {
#pragma GCC unroll 2
      for (int s = 0; s < 8; ++s) {
#pragma GCC unroll 3
        for (int m = 0; m < M; ++m) step(weights, m, s);
        bandSum.advance(kSumPerStep * M);
      }
    }
  });
  for (int m = 0; m < M; ++m) {
    const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
    const Group g = groupOf(band, q);
    const Mask lanes = Full ? Mask(0xFF) : g.lanes;
    storeSkewed<Full>(&Omega[0][0], g.r, c0, lanes, outOmega[m]);
    storeSkewed<Full>(&Psi[0][0], g.r, c0, lanes, outPsi[m]);
    co[m].old = om[m].north[8];
    cp[m].old = ps[m].north[8];
    omegaCarry[q] = co[m];
    psiCarry[q] = cp[m];
  }
}

// Rows 150, 300 and 450 and the axis row of Psi before the vorticity sweep
// (the wavefront's weights read them while their bands update them).
void copyPsiBefore(Workspace& ws, const Field& Psi) {
  for (int b = 0; b + 1 < kBands; ++b)
    for (int j = 0; j <= NY; ++j) ws.edgePsiBelow[b][j] = Psi[kBandTop[b]][j];
  for (int j = 0; j <= NY; ++j) ws.axisPsiBefore[j] = Psi[kAxisRow][j];
}

// Psi rows for the weights of the vorticity sweep, as they were before it:
// the row above each group from a copy (taken before the group above
// updates it; the band's first group: the edge copies), the row below the
// band from the previous band's copy of its first row.
void vorticityPsiRows(const State& st, Workspace& ws, double pr, int band, WeightsAhead& ahead) {
  const Field& Psi = st.Psi;
  const int groups = groupCount(band);
  closeRangeFlags(ws, band);
  ahead.band = band;
  ahead.field = &st.Omega;
  ahead.vorticity = true;
  ahead.pr = pr;
  for (int q = 0; q < groups; ++q) {
    const Group g = groupOf(band, q);
    PsiRows& p = ahead.rows[q];
    p = psiRowsOf(ws, Psi, band, q);
    if (q == 0) {
      p.row[0] = band < kBands - 1 ? ws.edgePsi[band] : ws.axisPsiBefore;
    } else {
      std::copy_n(Psi[g.r + 1], NY + 1, ws.psiAboveGroup[band][q]);
      p.row[0] = ws.psiAboveGroup[band][q];
    }
    if (q == groups - 1 && band > 0) p.row[g.rows + 1] = ws.edgePsiBelow[band - 1];
  }
}

void vorticityRowsSimd(State& st, Workspace& ws, const Case& c, int band, double& sum) {
  Field &Omega = st.Omega, &Psi = st.Psi;
  const Field& T = st.T;
  const double Gr = c.Gr;
  const int groups = groupCount(band);
  Ahead ahead{ws.ahead[band]};
  auto& windowBuoyancy = ws.windowBuoyancy[band];
  vorticityPsiRows(st, ws, c.Pr, band, ahead.d);
  Carry omegaCarry[kMaxGroups], psiCarry[kMaxGroups];
  for (int q = 0; q < groups; ++q) {
    omegaCarry[q] = startCarry(Omega, groupOf(band, q));
    psiCarry[q] = startCarry(Psi, groupOf(band, q));
  }
  int window = 0;  // first group of the current window
  BandSum bandSum{Omega, sum, kBandTop[band], 1, kBandTop[band] + 1};
  auto prepare = [band, &window, &windowBuoyancy, &T, Gr](int q0, int q1) {
    window = q0;
    for (int q = q0; q < q1; ++q) {
      const Group g = groupOf(band, q);
      for (int k = 0; k < g.rows; ++k)
        computeBuoyancy(T, Gr, g.r - k, windowBuoyancy[8 * (q - q0) + k]);
    }
  };
  pipeline(
      ws, band, ahead, prepare,
      [&](int q, int c0, auto full) {
        vorticityBlocks<1, decltype(full)::value>(Omega, Psi, ws, band, ahead, omegaCarry,
                                                  psiCarry, windowBuoyancy, window, bandSum, q,
                                                  (c0 - 1) / 8);
      },
      [&](int q0, int t) {
        vorticityBlocks<kWindow, true>(Omega, Psi, ws, band, ahead, omegaCarry, psiCarry,
                                       windowBuoyancy, window, bandSum, q0, t);
      },
      [band, &bandSum](int, int q1) {
        const Group last = groupOf(band, q1 - 1);
        bandSum.bottom = last.r - last.rows + 1;
      });
  bandSum.advance(kRows * kCols);
}

}  // namespace
}  // namespace plume
