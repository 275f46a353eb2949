// AVX-512 wavefront: the rows of a band in groups of eight, one row per lane.
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
//
// The band's last group reads the previous band's first row; the previous
// band publishes how far along that row it has stored, and the group waits
// for the columns it needs (with one thread the previous band is complete).
#pragma once

#include <immintrin.h>

#include <type_traits>

#include "solver/band_sum_skip.h"

namespace plume {
namespace {

constexpr int kBlocks = (kLast + 7 + 7) / 8;  // blocks of eight steps per group
static_assert(kBlocks == kStepBlocks);
constexpr int kLag = 2;                       // blocks between consecutive groups
constexpr int kWindow = 3;                    // groups in flight at once
// Nodes of the band sum added per step: enough to keep up with the wavefront
// (eight rows of 919 nodes in 116 blocks of eight steps).
constexpr int kSumPerStep = (8 * kLast / kBlocks + 1 + 7) / 8;

// Transposes an 8 x 8 block held as eight rows.
inline void transpose8(__m512d r[8]) {
  const __m512i lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512i first = _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0);
  const __m512i second = _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4);
  __m512d t[8], u[8];
  for (int p = 0; p < 8; p += 2) {
    t[p] = _mm512_unpacklo_pd(r[p], r[p + 1]);
    t[p + 1] = _mm512_unpackhi_pd(r[p], r[p + 1]);
  }
  for (int p = 0; p < 8; p += 4) {
    u[p] = _mm512_permutex2var_pd(t[p], lo, t[p + 2]);
    u[p + 1] = _mm512_permutex2var_pd(t[p + 1], lo, t[p + 3]);
    u[p + 2] = _mm512_permutex2var_pd(t[p], hi, t[p + 2]);
    u[p + 3] = _mm512_permutex2var_pd(t[p + 1], hi, t[p + 3]);
  }
  for (int p = 0; p < 4; ++p) {
    r[p] = _mm512_permutex2var_pd(u[p], first, u[p + 4]);
    r[p + 4] = _mm512_permutex2var_pd(u[p], second, u[p + 4]);
  }
}

// Bits s (0..7) with lo <= col + s <= hi.
inline __mmask8 columnMask(int col, int lo, int hi) {
  int sLo = lo - col > 0 ? lo - col : 0;
  int sHi = hi - col < 7 ? hi - col : 7;
  if (sLo > sHi) return 0;
  return static_cast<__mmask8>(((1u << (sHi + 1)) - 1) & ~((1u << sLo) - 1));
}

// Lanes k whose node (r-k, c-k) lies in columns 1..919.
inline __mmask8 activeLanes(int c) {
  unsigned m = c >= 8 ? 0xFFu : (1u << c) - 1;
  if (c > kLast) m &= c - kLast >= 8 ? 0u : ~((1u << (c - kLast)) - 1);
  return static_cast<__mmask8>(m);
}

// out[s] lane k = f[r-k][start+s-k], for rows k in `rows`, columns lo..hi
// (others zero). `Full`: every row and column is in range (no masks).
template <bool Full>
inline void loadSkewed(const double* f, long stride, int r, int start, __mmask8 rows, int lo,
                       int hi, __m512d out[8]) {
  for (int k = 0; k < 8; ++k) {
    const int col = start - k;
    const double* p = f + (r - k) * stride + col;
    if constexpr (Full) {
      out[k] = _mm512_loadu_pd(p);
    } else {
      const __mmask8 m = (rows >> k & 1) ? columnMask(col, lo, hi) : 0;
      out[k] = _mm512_maskz_loadu_pd(m, p);
    }
  }
  transpose8(out);
}

// Stores step vectors v[s] (lane k = node (r-k, c0+s-k)) into rows r-k;
// columns 1..919 and lanes in `rows` only.
template <bool Full>
inline void storeSkewed(double* f, int r, int c0, __mmask8 rows, __m512d v[8]) {
  transpose8(v);
  for (int k = 0; k < 8; ++k) {
    if (!Full && !(rows >> k & 1)) continue;
    const int col = c0 - k;
    const __mmask8 m = Full ? 0xFF : columnMask(col, 1, kLast);
    _mm512_mask_storeu_pd(f + (r - k) * long(kCols) + col, m, v[k]);
  }
}

// West neighbours: lane k takes lane k+1 of `north`, lane 7 takes extra[s].
inline __m512d westOf(__m512d north, __m512d extra, int s) {
  const __m512i idx = _mm512_add_epi64(_mm512_set_epi64(8, 7, 6, 5, 4, 3, 2, 1),
                                       _mm512_set_epi64(s, 0, 0, 0, 0, 0, 0, 0));
  return _mm512_permutex2var_pd(north, idx, extra);
}

// East neighbours: lane k takes lane k-1 of `prev`, lane 0 takes top[s].
inline __m512d eastOf(__m512d prev, __m512d top, int s) {
  const __m512i idx = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 8 + s);
  return _mm512_permutex2var_pd(prev, idx, top);
}

struct Group {
  int r;          // top row
  int rows;       // rows in the group (1..8)
  __mmask8 lanes; // lanes that hold rows
};

inline Group groupOf(int band, int q) {
  const int r = kBandTop[band] - 8 * q;
  const int left = r - kBandBottom[band] + 1;
  const int n = left < 8 ? left : 8;
  return {r, n, static_cast<__mmask8>((1u << n) - 1)};
}

inline int groupCount(int band) { return (kBandTop[band] - kBandBottom[band] + 8) / 8; }

// Rows a group loads from a field: its own, plus the row below its last lane
// (the west neighbour of that lane) when the group has fewer than 8 rows.
inline __mmask8 loadRows(const Group& g) {
  return g.rows < 8 ? static_cast<__mmask8>((1u << (g.rows + 1)) - 1) : 0xFF;
}

// State a field carries from one block of a group to the next.
struct Carry {
  __m512d prev;  // lane k: the last value it stored (south of its next node)
  __m512d old;   // lane k: the old value at its next node
};

inline Carry startCarry(const Field& f, const Group& g) {
  alignas(64) double prev[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < g.rows; ++k) prev[k] = f[g.r - k][0];
  alignas(64) double old[8] = {f[g.r][1], 0, 0, 0, 0, 0, 0, 0};
  return {_mm512_load_pd(prev), _mm512_load_pd(old)};
}

// A field's inputs for one block: north (old) values per step, the extra
// west row for lane 7, and the row above the group for lane 0.
struct Inputs {
  __m512d north[8];
  __m512d extra;
  __m512d top;
};

template <bool Full>
inline void loadInputs(const Field& f, const double* topRow, const Group& g, int c0, Inputs& in) {
  loadSkewed<Full>(&f[0][0], kCols, g.r, c0 + 1, loadRows(g), 0, NY, in.north);
  if constexpr (Full) {
    in.extra = _mm512_loadu_pd(&f[g.r - 8][c0 - 7]);
    in.top = _mm512_loadu_pd(topRow + c0);
  } else {
    in.extra = g.rows == 8 ? _mm512_maskz_loadu_pd(columnMask(c0 - 7, 0, NY), &f[g.r - 8][c0 - 7])
                           : _mm512_setzero_pd();
    in.top = _mm512_maskz_loadu_pd(columnMask(c0, 0, NY), topRow + c0);
  }
}

// Weights of a group's block: step s, weight x (W, S, E, N) at w[s][x].
struct Weights {
  const double (*w)[4][8];
  __m512d get(int s, int x) const { return _mm512_load_pd(w[s][x]); }
};

inline Weights weightsOf(int band, int q, int c0) {
  return {diagonalWeights[band][q] + (c0 - 1)};
}

// A block where all weights are the still-flow weight: nothing to load.
struct StillWeights {
  __m512d get(int, int) const { return _mm512_set1_pd(kStillWeight); }
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

// The weights of group q's block at c0 as laid out, still or not.
inline Weights laidOutWeights(int band, int q, int c0) {
  return {stillBlock[band][q][(c0 - 1) / 8] ? kStillDiagonal.w : diagonalWeights[band][q] + (c0 - 1)};
}

// Runs body(weights) with the weights of a group's block.
template <class Body>
inline void withWeights(int band, int q, int c0, Body body) {
  if (stillBlock[band][q][(c0 - 1) / 8])
    body(StillWeights{});
  else
    body(weightsOf(band, q, c0));
}

// A group's weights row by row: weight x of row r-k at groupWeights[x][k].
alignas(64) thread_local double groupWeights[4][8][kPad];

// Puts the still-flow weight into vector v (columns 1 + 8v ...) of the
// scratch row k, which the weight pass left out.
inline void fillStill(int k, int v) {
  for (int x = 0; x < 4; ++x) _mm512_storeu_pd(&groupWeights[x][k][1 + 8 * v], _mm512_set1_pd(kStillWeight));
}

// Lays a block of a group's weights (in groupWeights) out along its diagonals.
// (Row k of the scratch is reached as row 0 - k with stride -kPad.)
template <bool Full>
void diagonaliseWeights(int band, int q, int c0) {
  const Group g = groupOf(band, q);
  for (int x = 0; x < 4; ++x) {
    __m512d v[8];
    loadSkewed<Full>(&groupWeights[x][0][0], -kPad, 0, c0, g.lanes, 1, kLast, v);
    for (int s = 0; s < 8; ++s) _mm512_store_pd(diagonalWeights[band][q][c0 - 1 + s][x], v[s]);
  }
}

template <class W>
inline __m512d centreWeights(const W& wt, int s) {
  return _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(wt.get(s, 0), wt.get(s, 1)), wt.get(s, 2)),
                       wt.get(s, 3));
}

// Weighted sum ((aS*south + aW*west) + aE*east) + aN*north.
template <class W>
inline __m512d neighbourSum(const W& wt, int s, __m512d south, __m512d west, __m512d east,
                            __m512d north) {
  __m512d sum = _mm512_add_pd(_mm512_mul_pd(wt.get(s, 1), south), _mm512_mul_pd(wt.get(s, 0), west));
  sum = _mm512_add_pd(sum, _mm512_mul_pd(wt.get(s, 2), east));
  return _mm512_add_pd(sum, _mm512_mul_pd(wt.get(s, 3), north));
}

// s / ap, by the exact division by 4/(h*h) in the lanes where ap is that
// constant (all four weights 1/(h*h): no flow to speak of), by a divide
// instruction in the others.
inline __m512d divideByCentre(__m512d s, __m512d ap) {
  const __mmask8 constant = _mm512_cmp_pd_mask(ap, _mm512_set1_pd(fourOverHH), _CMP_EQ_OQ);
  if (constant == 0) return _mm512_div_pd(s, ap);
  const __m512d q = divByFourOverHH(s);
  if (constant == 0xFF) return q;
  return _mm512_mask_div_pd(q, static_cast<__mmask8>(~constant), s, ap);
}

// sum / ap at step s; ap is 4/(h*h) bit for bit in a still block.
inline __m512d divideByCentre(const Weights& wt, int s, __m512d sum) {
  return divideByCentre(sum, centreWeights(wt, s));
}
inline __m512d divideByCentre(const StillWeights&, int, __m512d sum) { return divByFourOverHH(sum); }

inline __m512d relaxed(__m512d g, __m512d old) {
  return _mm512_add_pd(g, _mm512_mul_pd(_mm512_set1_pd(relaxWeight), old));
}

// Whether the blocks t, t-kLag, ... of groups q0, q0+1, ... are all still.
inline bool allStill(int band, int q0, int t) {
  for (int m = 0; m < kWindow; ++m)
    if (!stillBlock[band][q0 + m][t - kLag * m]) return false;
  return true;
}

// Runs prepare(q0, q1) for each window of groups q0..q1-1, then block(q, c0,
// full) for every group q and block (first step c0) of a
// band in pipeline order, with the band-edge wait and publication around them.
// `full` is true_type for blocks whose rows and columns are all in range
// (a full group away from the row ends), which need no masks.
//
// When all kWindow groups in flight are at full blocks (the common case),
// interleaved(q0, t, still) runs them instead, step by step: the blocks are
// independent of each other (two blocks apart), and their chains of
// dependent operations then overlap. `still`: all of them are still.
template <class Prepare, class Block, class Interleaved, class Finish>
void pipeline(int band, Prepare prepare, Block block, Interleaved interleaved, Finish finish) {
  const int groups = groupCount(band);
  for (int q0 = 0; q0 < groups; q0 += kWindow) {
    const int q1 = q0 + kWindow < groups ? q0 + kWindow : groups;
    prepare(q0, q1);
    for (int t = 0; t < kBlocks + kLag * (q1 - q0 - 1); ++t) {
      if (q1 - q0 == kWindow && q1 < groups && t - kLag * (kWindow - 1) >= 1 && t < kBlocks - 2) {
        interleaved(q0, t, allStill(band, q0, t));
        if (q0 == 0) publishFirstRow(band, 1 + 8 * t + 7);
        continue;
      }
      for (int q = q0; q < q1; ++q) {
        const int b = t - kLag * (q - q0);
        if (b < 0) break;
        if (b >= kBlocks) continue;
        const int c0 = 1 + 8 * b;
        const int reach = c0 + 7 < kLast ? c0 + 7 : kLast;
        if (q == groups - 1 && band > 0) awaitFirstRow(band - 1, reach);
        if (b >= 1 && b < kBlocks - 2 && groupOf(band, q).rows == 8)
          block(q, c0, std::true_type{});
        else
          block(q, c0, std::false_type{});
        if (q == 0) publishFirstRow(band, reach);
      }
    }
    finish(q0, q1);
  }
}

// ------------------------------------------------------------ temperature

// Temperature of step s of a block; only the `active` lanes (nodes in
// range) carry their value on (all of them in a full block).
template <bool Full, class W>
inline __m512d temperatureStep(const W& wt, const Inputs& in, Carry& cr, int s, __mmask8 active) {
  __m512d west = westOf(in.north[s], in.extra, s);
  __m512d east = eastOf(cr.prev, in.top, s);
  __m512d sum = neighbourSum(wt, s, cr.prev, west, east, in.north[s]);
  __m512d v = relaxed(divideByCentre(wt, s, sum), cr.old);
  cr.prev = Full ? v : _mm512_mask_mov_pd(cr.prev, active, v);
  cr.old = in.north[s];
  return v;
}

// The weights of group q of a band: computed, flagged still or laid out
// along the diagonals. Groups are independent of each other, so the team's
// threads share this out before the temperature pass (prepareWeights).
void prepareGroupWeights(int band, int q) {
  const Group g = groupOf(band, q);
  // Lane k of block b reads vectors b-1 and b of its row (columns below
  // 1 and above 919 are idle lanes); the last block's vector b lies past
  // the row end and counts as still.
  bool rowStill[8][kBlocks];
  for (int k = 0; k < g.rows; ++k) {
    computeWeightsInto(g.r - k, groupWeights[0][k], groupWeights[1][k], groupWeights[2][k],
                       groupWeights[3][k], rowStill[k]);
    rowStill[k][kBlocks - 1] = true;
  }
  for (int b = 0; b < kBlocks; ++b) {
    bool still = true;
    for (int k = 0; k < g.rows; ++k)
      still = still && rowStill[k][b] && (k == 0 || b == 0 || rowStill[k][b - 1]);
    stillBlock[band][q][b] = still;
    if (still) continue;
    for (int k = 0; k < g.rows; ++k)
      for (int v = b > 0 ? b - 1 : 0; v <= b && v < kBlocks - 1; ++v)
        if (rowStill[k][v]) fillStill(k, v);
    if (b >= 1 && b < kBlocks - 2 && g.rows == 8)
      diagonaliseWeights<true>(band, q, 1 + 8 * b);
    else
      diagonaliseWeights<false>(band, q, 1 + 8 * b);
  }
}

// All groups' weights, shared out among the threads of the enclosing team
// (the groups near the axis, where the flow moves, cost the most). Ends with
// the team's barrier: the temperature pass starts on complete weights.
void prepareWeights() {
  constexpr int perBand = kMaxGroups;
#pragma omp for schedule(dynamic)
  for (int unit = 0; unit < kBands * perBand; ++unit) {
    const int band = kBands - 1 - unit / perBand, q = unit % perBand;
    if (q < groupCount(band)) prepareGroupWeights(band, q);
  }
}

void temperatureRowsSimd(int band) {
  const int groups = groupCount(band);
  Carry carry[kMaxGroups];
  for (int q = 0; q < groups; ++q) carry[q] = startCarry(T, groupOf(band, q));
  auto prepare = [](int, int) {};  // weights: prepareWeights, before the pass
  pipeline(band, prepare, [&](int q, int c0, auto full) {
    constexpr bool Full = decltype(full)::value;
    const Group g = groupOf(band, q);
    const double* topRow = q == 0 ? eastOfTop(band, edgeT, T) : T[g.r + 1];
    Inputs in;
    loadInputs<Full>(T, topRow, g, c0, in);
    Carry& cr = carry[q];
    withWeights(band, q, c0, [&](const auto& wt) {
      __m512d out[8];
      for (int s = 0; s < 8; ++s)
        out[s] = temperatureStep<Full>(wt, in, cr, s, Full ? 0xFF : g.lanes & activeLanes(c0 + s));
      storeSkewed<Full>(&T[0][0], g.r, c0, g.lanes, out);
    });
  }, [&](int q0, int t, bool still) {
    Inputs in[kWindow];
    Carry cr[kWindow];
    __m512d out[kWindow][8];
    for (int m = 0; m < kWindow; ++m) {
      const Group g = groupOf(band, q0 + m);
      cr[m] = carry[q0 + m];
      loadInputs<true>(T, q0 + m == 0 ? eastOfTop(band, edgeT, T) : T[g.r + 1], g, 1 + 8 * (t - kLag * m), in[m]);
    }
    auto steps = [&](auto weights) {
#pragma GCC unroll 8
      for (int s = 0; s < 8; ++s)
#pragma GCC unroll 3
        for (int m = 0; m < kWindow; ++m) out[m][s] = temperatureStep<true>(weights(m), in[m], cr[m], s, 0xFF);
    };
    if (still)
      steps([](int) { return StillWeights{}; });
    else
      steps([&](int m) { return laidOutWeights(band, q0 + m, 1 + 8 * (t - kLag * m)); });
    for (int m = 0; m < kWindow; ++m) {
      storeSkewed<true>(&T[0][0], groupOf(band, q0 + m).r, 1 + 8 * (t - kLag * m), 0xFF, out[m]);
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
      const __m512d halfUlp = halfUlpOf(s);  // of the sum so far: no larger than later
      int j = column;
      for (; j + 8 <= end; j += 8) {
        if (negligibleTerms(w + j, halfUlp)) continue;
        for (int k = j; k < j + 8; ++k) s = (w[k] * w[k]) * 2 + s;
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

// Buoyancy source ((T[i+1][j] - T[i-1][j]) / 2h) * Gr of the rows of a
// window of groups: row r-k of group q0+m at windowBuoyancy[8m + k].
alignas(64) thread_local double windowBuoyancy[kWindow * 8][kPad];

inline void computeBuoyancy(int i, double* out) {
  const __m512d gr = _mm512_set1_pd(Gr);
  for (int j = 1; j <= kLast; j += 8) {
    __m512d d = _mm512_sub_pd(_mm512_loadu_pd(&T[i + 1][j]), _mm512_loadu_pd(&T[i - 1][j]));
    _mm512_storeu_pd(out + j, _mm512_mul_pd(divByTwoH(d), gr));
  }
}

// Vorticity and stream function of step s of a block; only the `active`
// lanes carry their values on (all of them in a full block).
template <bool Full, class W>
inline void vorticityStep(const W& wt, const Inputs& om, const Inputs& ps, __m512d source, Carry& co,
                          Carry& cp, int s, __mmask8 active, __m512d& outOmega, __m512d& outPsi) {
  __m512d west = westOf(om.north[s], om.extra, s);
  __m512d east = eastOf(co.prev, om.top, s);
  __m512d total = _mm512_add_pd(neighbourSum(wt, s, co.prev, west, east, om.north[s]), source);
  __m512d w = relaxed(divideByCentre(wt, s, total), co.old);
  if (!Full) w = _mm512_maskz_mov_pd(active, w);  // idle lanes: 0, on the fast division path
  co.prev = Full ? w : _mm512_mask_mov_pd(co.prev, active, w);
  co.old = om.north[s];
  outOmega = w;
  __m512d a = divByHH(_mm512_add_pd(cp.prev, ps.north[s]));
  __m512d b = divByHH(_mm512_add_pd(westOf(ps.north[s], ps.extra, s), eastOf(cp.prev, ps.top, s)));
  __m512d p = relaxed(divByFourOverHH(_mm512_add_pd(_mm512_add_pd(a, b), w)), cp.old);
  cp.prev = Full ? p : _mm512_mask_mov_pd(cp.prev, active, p);
  cp.old = ps.north[s];
  outPsi = p;
}

void vorticityRowsSimd(int band, double& sum) {
  const int groups = groupCount(band);
  Carry omegaCarry[kMaxGroups], psiCarry[kMaxGroups];
  for (int q = 0; q < groups; ++q) {
    omegaCarry[q] = startCarry(Omega, groupOf(band, q));
    psiCarry[q] = startCarry(Psi, groupOf(band, q));
  }
  int window = 0;  // first group of the current window
  BandSum bandSum{sum, kBandTop[band], 1, kBandTop[band] + 1};
  auto prepare = [band, &window](int q0, int q1) {
    window = q0;
    for (int q = q0; q < q1; ++q) {
      const Group g = groupOf(band, q);
      for (int k = 0; k < g.rows; ++k) computeBuoyancy(g.r - k, windowBuoyancy[8 * (q - q0) + k]);
    }
  };
  pipeline(band, prepare, [&](int q, int c0, auto full) {
    constexpr bool Full = decltype(full)::value;
    const Group g = groupOf(band, q);
    const bool first = q == 0;
    Inputs om, ps;
    loadInputs<Full>(Omega, first ? eastOfTop(band, edgeOmega, Omega) : Omega[g.r + 1], g, c0, om);
    loadInputs<Full>(Psi, first ? eastOfTop(band, edgePsi, Psi) : Psi[g.r + 1], g, c0, ps);
    __m512d source[8];
    loadSkewed<Full>(windowBuoyancy[8 * (q - window)], -kPad, 0, c0, g.lanes, 1, kLast, source);
    Carry& co = omegaCarry[q];
    Carry& cp = psiCarry[q];
    withWeights(band, q, c0, [&](const auto& wt) {
    __m512d outOmega[8], outPsi[8];
    for (int s = 0; s < 8; ++s) {
      vorticityStep<Full>(wt, om, ps, source[s], co, cp, s, Full ? 0xFF : g.lanes & activeLanes(c0 + s),
                          outOmega[s], outPsi[s]);
      bandSum.advance(kSumPerStep);
    }
    storeSkewed<Full>(&Omega[0][0], g.r, c0, g.lanes, outOmega);
    storeSkewed<Full>(&Psi[0][0], g.r, c0, g.lanes, outPsi);
    });
  }, [&](int q0, int t, bool still) {
    Inputs om[kWindow], ps[kWindow];
    Carry co[kWindow], cp[kWindow];
    __m512d source[kWindow][8], outOmega[kWindow][8], outPsi[kWindow][8];
    for (int m = 0; m < kWindow; ++m) {
      const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
      const Group g = groupOf(band, q);
      co[m] = omegaCarry[q];
      cp[m] = psiCarry[q];
      loadInputs<true>(Omega, q == 0 ? eastOfTop(band, edgeOmega, Omega) : Omega[g.r + 1], g, c0, om[m]);
      loadInputs<true>(Psi, q == 0 ? eastOfTop(band, edgePsi, Psi) : Psi[g.r + 1], g, c0, ps[m]);
      loadSkewed<true>(windowBuoyancy[8 * (q - window)], -kPad, 0, c0, 0xFF, 1, kLast, source[m]);
    }
    auto steps = [&](auto weights) {
#pragma GCC unroll 8
      for (int s = 0; s < 8; ++s) {
#pragma GCC unroll 3
        for (int m = 0; m < kWindow; ++m)
          vorticityStep<true>(weights(m), om[m], ps[m], source[m][s], co[m], cp[m], s, 0xFF,
                              outOmega[m][s], outPsi[m][s]);
        bandSum.advance(kSumPerStep * kWindow);
      }
    };
    if (still)
      steps([](int) { return StillWeights{}; });
    else
      steps([&](int m) { return laidOutWeights(band, q0 + m, 1 + 8 * (t - kLag * m)); });
    for (int m = 0; m < kWindow; ++m) {
      const int q = q0 + m, c0 = 1 + 8 * (t - kLag * m);
      const int r = groupOf(band, q).r;
      storeSkewed<true>(&Omega[0][0], r, c0, 0xFF, outOmega[m]);
      storeSkewed<true>(&Psi[0][0], r, c0, 0xFF, outPsi[m]);
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
