// The weights of the vector wavefront's blocks: as computed (block_weights.h)
// or the still-flow constant, and the ring of each group's next blocks'
// weights, computed just before the block before them runs, with the
// prefetch of the rows a few blocks later.
#pragma once

#include "solver/block_weights.h"
#include "solver/simd.h"
#include "solver/wavefront_skew.h"

namespace plume {
namespace {

constexpr int kPrefetchBlocks = 3;  // how far ahead rows are fetched

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

}  // namespace
}  // namespace plume
