// Vector wavefront: the rows of a band in groups of eight, one row per lane
// of the instruction-set layer's Vec (simd.h), so the same code runs with
// AVX-512 and with AVX2.
//
// At step c lane k updates node (r-k, c-k) of its group (top row r). Lane k
// reads (r-k, c-k-1) from its own previous step, (r-k+1, c-k) from lane k-1's
// previous step, and (r-k-1, c-k), (r-k, c-k+1) before anyone has written
// them: exactly what the row-by-row order gives. Every lane does the scalar
// operations of its node, in the same order, so it produces the same bits.
//
// Memory is read and written in blocks of eight steps: each lane's eight
// nodes of a block are eight consecutive columns of its row, so a block is
// loaded as eight row vectors and transposed (and stored the same way).
//
// Groups of a band run as a pipeline, each two blocks behind the one above
// it: a group reads its top neighbour row only after the group above has
// stored it, and its last lane's west row before the group below has
// written it. The blocks of the groups in flight are independent; away from
// the row ends their steps are interleaved, so that their chains of dependent
// operations overlap (blocks whose weights are all still use the constant).
// Each block's weights are computed just before the group's previous block
// runs (block_weights.h), in both sweeps.
//
// The band's last group reads the previous band's first row; the previous
// band publishes how far along that row it has stored, and the group waits
// for the columns it needs (with one thread the previous band is complete).
#pragma once

#include <algorithm>
#include <type_traits>

#include "solver/band_sum.h"
#include "solver/band_sync.h"
#include "solver/block_weights.h"
#include "solver/simd.h"

namespace plume {
namespace {

constexpr int kBlocks = (kLast + 7 + 7) / 8;  // blocks of eight steps per group
constexpr int kLag = 2;                       // blocks between consecutive groups
constexpr int kPrefetchBlocks = 3;            // how far ahead rows are fetched
// Nodes of the band sum added per step: enough to keep up with the wavefront
// (eight rows of 919 nodes in 116 blocks of eight steps).
constexpr int kSumPerStep = (8 * kLast / kBlocks + 1 + 7) / 8;

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

// Weights of a group's block: step s, weight x (W, S, E, N) at w[s][x].
struct Weights {
  const double (*w)[4][8];
  Vec get(int s, int x) const { return vloadAligned(w[s][x]); }
};

// A block where all weights are the still-flow weight: nothing to load.
struct StillWeights {
  Vec get(int, int) const { return vset(kStillWeight); }
};

// The still weights laid out as a block, for a still block run beside
// moving ones.
struct StillDiagonal {
  alignas(64) double w[8][4][8];
};
constexpr StillDiagonal makeStillDiagonal() {
  StillDiagonal d{};
  for (auto& step : d.w)
    for (auto& weight : step)
      for (double& lane : weight) lane = kStillWeight;
  return d;
}
constexpr StillDiagonal kStillDiagonal = makeStillDiagonal();

// A block's weights as computed, still or not.
inline Weights weightsOf(const BlockWeights& bw) { return {bw.still ? kStillDiagonal.w : bw.w}; }

// Runs body(weights) with a block's weights.
template <class Body>
inline void withWeights(const BlockWeights& bw, Body body) {
  if (bw.still)
    body(StillWeights{});
  else
    body(Weights{bw.w});
}

// The weights ahead of a sweep's wavefront in one band (WeightsAhead,
// kernel_workspace.h, held by the workspace), with what the wavefront does
// with them.
struct Ahead {
  WeightsAhead& d;

  // The weights of group q's block b, and the prefetch of the rows a few
  // blocks later.
  void compute(int q, int b) {
    const int c0 = 1 + 8 * b;
    const Group g = groupOf(d.band, q);
    const int n = g.rows;
    BlockWeights& out = d.ring[q][b & 1];
    if (b >= 2 && b <= kBlocks - 4)
      blockWeights<true>(d.rows[q], d.pr, n, c0, out);
    else
      blockWeights<false>(d.rows[q], d.pr, n, c0, out);
    // Psi: for the weights where the flow moves here, and for the stream
    // function in the vorticity sweep.
    prefetch(q, g, c0 + 8 * kPrefetchBlocks, !out.still || d.vorticity);
  }
  // The sweep reads its rows in as many streams as rows in flight, more than
  // the hardware prefetcher follows: fetch the next line of each, the Psi
  // rows the weights of block c0 read and the field's rows, a few blocks
  // early.
  void prefetch(int q, const Group& g, int c0, bool psi) const {
    if (c0 + 10 > NY) return;
    if (psi)
      for (int m = 0; m <= g.rows + 1; ++m) __builtin_prefetch(d.rows[q].row[m] + c0 - m + 10);
    for (int k = 0; k <= g.rows; ++k) __builtin_prefetch(&(*d.field)[g.r - k][c0 - k + 8]);
  }

  // Before group q runs block b.
  void before(int q, int b) {
    if (b == 0) compute(q, 0);
    if (b + 1 < kBlocks) compute(q, b + 1);
  }
  const BlockWeights& of(int q, int b) const { return d.ring[q][b & 1]; }
};

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

template <class W>
inline Vec centreWeights(const W& wt, int s) {
  return vadd(vadd(vadd(wt.get(s, 0), wt.get(s, 1)), wt.get(s, 2)), wt.get(s, 3));
}

// Weighted sum ((aS*south + aW*west) + aE*east) + aN*north.
template <class W>
inline Vec neighbourSum(const W& wt, int s, Vec south, Vec west, Vec east, Vec north) {
  Vec sum = vadd(vmul(wt.get(s, 1), south), vmul(wt.get(s, 0), west));
  sum = vadd(sum, vmul(wt.get(s, 2), east));
  return vadd(sum, vmul(wt.get(s, 3), north));
}

// s / ap, by the exact division by 4/(h*h) in the lanes where ap is that
// constant (all four weights 1/(h*h): no flow to speak of), by a divide
// instruction in the others.
inline Vec divideByCentre(Vec s, Vec ap) {
  const Mask constant = vequal(ap, vset(fourOverHH));
  if (constant == 0) return vdiv(s, ap);
  const Vec q = divByFourOverHH(s);
  if (constant == 0xFF) return q;
  return vdivWhere(~constant & kAllLanes, q, s, ap);
}

// sum / ap at step s; ap is 4/(h*h) bit for bit in a still block.
inline Vec divideByCentre(const Weights& wt, int s, Vec sum) {
  return divideByCentre(sum, centreWeights(wt, s));
}
inline Vec divideByCentre(const StillWeights&, int, Vec sum) { return divByFourOverHH(sum); }

inline Vec relaxed(Vec g, Vec old) { return vadd(g, vmul(vset(relaxWeight), old)); }

// Runs prepare(q0, q1) for each window of groups q0..q1-1, then block(q, c0,
// full) for every group q and block (first step c0) of a band in pipeline
// order, with the band-edge wait and publication around them, and the
// weights of the next block computed before each (`ahead`).
// `full` is true_type for blocks whose rows and columns are all in range
// (a full group away from the row ends), which need no masks.
//
// When all kWindow groups in flight are at full blocks (the common case),
// interleaved(q0, t) runs them instead, step by step: the blocks are
// independent of each other (two blocks apart), and their chains of
// dependent operations then overlap.
template <class Prepare, class Block, class Interleaved, class Finish>
void pipeline(Workspace& ws, int band, Ahead ahead, Prepare prepare, Block block,
              Interleaved interleaved, Finish finish) {
  const int groups = groupCount(band);
  for (int q0 = 0; q0 < groups; q0 += kWindow) {
    const int q1 = q0 + kWindow < groups ? q0 + kWindow : groups;
    prepare(q0, q1);
    for (int t = 0; t < kBlocks + kLag * (q1 - q0 - 1); ++t) {
      if (q1 - q0 == kWindow && q1 < groups && t - kLag * (kWindow - 1) >= 1 && t < kBlocks - 2) {
        for (int m = 0; m < kWindow; ++m) ahead.before(q0 + m, t - kLag * m);
        interleaved(q0, t);
        if (q0 == 0) publishFirstRow(ws, band, 1 + 8 * t + 7);
        continue;
      }
      for (int q = q0; q < q1; ++q) {
        const int b = t - kLag * (q - q0);
        if (b < 0) break;
        if (b >= kBlocks) continue;
        const int c0 = 1 + 8 * b;
        const int reach = c0 + 7 < kLast ? c0 + 7 : kLast;
        if (q == groups - 1 && band > 0) awaitFirstRow(ws, band - 1, reach);
        ahead.before(q, b);
        if (b >= 1 && b < kBlocks - 2 && groupOf(band, q).rows == 8)
          block(q, c0, std::true_type{});
        else
          block(q, c0, std::false_type{});
        if (q == 0) publishFirstRow(ws, band, reach);
      }
    }
    finish(q0, q1);
  }
}

// Runs steps(weights) for the window's blocks t, t-kLag, ...: weights(m) the
// weights of group q0+m's block, all of them the constant when every block
// is still; each block's weights picked once, not at every step.
template <class Steps>
inline void withWindowWeights(Ahead ahead, int q0, int t, Steps steps) {
  bool still = true;
  for (int m = 0; m < kWindow && still; ++m) still = ahead.of(q0 + m, t - kLag * m).still;
  if (still) {
    steps([](int) { return StillWeights{}; });
    return;
  }
  Weights w[kWindow];
  for (int m = 0; m < kWindow; ++m) w[m] = weightsOf(ahead.of(q0 + m, t - kLag * m));
  steps([&](int m) { return w[m]; });
}

// ------------------------------------------------------------ temperature

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

// ------------------------------------------- vorticity and stream function

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
  pipeline(ws, band, ahead, prepare, [&](int q, int c0, auto full) {
    constexpr bool Full = decltype(full)::value;
    const Group g = groupOf(band, q);
    const bool first = q == 0;
    Carry& co = omegaCarry[q];
    Carry& cp = psiCarry[q];
    Inputs om, ps;
    loadInputs<Full>(Omega, first ? eastOfTop(band, ws.edgeOmega, Omega) : Omega[g.r + 1], g, c0,
                     co, om);
    loadInputs<Full>(Psi, first ? eastOfTop(band, ws.edgePsi, Psi) : Psi[g.r + 1], g, c0, cp, ps);
    Vec source[8];
    loadSkewed<Full>(windowBuoyancy[8 * (q - window)], -kPad, 0, c0, g.lanes, 1, kLast, source);
    withWeights(ahead.of(q, (c0 - 1) / 8), [&](const auto& wt) {
      Vec outOmega[8], outPsi[8];
      for (int s = 0; s < 8; ++s) {
        const Mask active = Full ? kAllLanes : g.lanes & activeLanes(c0 + s);
        vorticityStep<Full>(wt, om, ps, source[s], co, cp, s, active, outOmega[s], outPsi[s]);
        bandSum.advance(kSumPerStep);
      }
      storeSkewed<Full>(&Omega[0][0], g.r, c0, g.lanes, outOmega);
      storeSkewed<Full>(&Psi[0][0], g.r, c0, g.lanes, outPsi);
    });
    co.old = om.north[8];
    cp.old = ps.north[8];
  }, [&](int q0, int t) {
    Inputs om[kWindow], ps[kWindow];
    Carry co[kWindow], cp[kWindow];
    Vec source[kWindow][8], outOmega[kWindow][8], outPsi[kWindow][8];
    for (int m = 0; m < kWindow; ++m) {
      const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
      const Group g = groupOf(band, q);
      co[m] = omegaCarry[q];
      cp[m] = psiCarry[q];
      const bool first = q == 0;
      loadInputs<true>(Omega, first ? eastOfTop(band, ws.edgeOmega, Omega) : Omega[g.r + 1], g, c0,
                       co[m], om[m]);
      loadInputs<true>(Psi, first ? eastOfTop(band, ws.edgePsi, Psi) : Psi[g.r + 1], g, c0, cp[m],
                       ps[m]);
      loadSkewed<true>(windowBuoyancy[8 * (q - window)], -kPad, 0, c0, 0xFF, 1, kLast, source[m]);
    }
    auto steps = [&](auto weights) {
#pragma GCC unroll 2
      for (int s = 0; s < 8; ++s) {
#pragma GCC unroll 3
        for (int m = 0; m < kWindow; ++m)
          vorticityStep<true>(weights(m), om[m], ps[m], source[m][s], co[m], cp[m], s, 0xFF,
                              outOmega[m][s], outPsi[m][s]);
        bandSum.advance(kSumPerStep * kWindow);
      }
    };
    withWindowWeights(ahead, q0, t, steps);
    for (int m = 0; m < kWindow; ++m) {
      const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
      const int r = groupOf(band, q).r;
      storeSkewed<true>(&Omega[0][0], r, c0, 0xFF, outOmega[m]);
      storeSkewed<true>(&Psi[0][0], r, c0, 0xFF, outPsi[m]);
      co[m].old = om[m].north[8];
      cp[m].old = ps[m].north[8];
      omegaCarry[q] = co[m];
      psiCarry[q] = cp[m];
    }
  }, [band, &bandSum](int, int q1) {
    const Group last = groupOf(band, q1 - 1);
    bandSum.bottom = last.r - last.rows + 1;
  });
  bandSum.advance(kRows * kCols);
}

}  // namespace
}  // namespace plume
