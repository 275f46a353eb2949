// The weights of one block of a wavefront group (eight steps of eight lanes,
// lane k on row r-k, step s at column c0+s-k), computed from Psi just before
// the block before it runs, into a few kilobytes that stay in L1. Nothing is
// laid out for the whole grid: each sweep computes the weights it uses.
//
// Same bits as the literal weights: each lane's row is computed with the vector
// operations of kernel_weights.h (the order of weights.h) over eight
// consecutive columns of its row, then the block is transposed to steps.
// The Psi values a block reads are tested first, from each row's calm bits:
//  * all of them at most stillLimit(): every weight is kStillWeight (proof at
//    kStillWeight), and the block is flagged still instead of computed;
//  * else, all rows read 0 or within [kRangeFloor, rangeLimit()]: every
//    exact division stays on its fast path (proof at rangeLimit), so the
//    range checks are left out.
// The tested rows are those the weights read, over a column range that
// contains every column read, so each test is a sufficient condition.
// Lanes without a row and columns outside 0..920 get zeros as Psi (masked
// loads); they are idle lanes of the wavefront and their weights unused.
//
// Which Psi: a sweep's weights are those of Psi as it was before the
// iteration's stream-function updates. The vorticity sweep updates Psi as
// it goes, so its groups read the rows next to them that others write from
// copies taken before the sweep (PsiRows), and a block's weights are
// computed before the group's previous block runs: that block writes the
// south neighbours of the block's first step.
#pragma once

#include <cstdint>
#include <cstring>

#include "solver/kernel_weights.h"
#include "solver/simd.h"
#include "state/grid.h"

namespace plume {
namespace {

// BlockWeights and PsiRows: kernel_workspace.h.

// The skewed calm bits of rows calm[0 .. n-1] into out (8 * kCalmWords
// bytes); columns below 0 count as calm.
inline void skewCalmRows(const CalmRow* const* calm, int n, unsigned char* out) {
  std::uint64_t all[kCalmWords];
  for (std::uint64_t& w : all) w = ~std::uint64_t(0);
  for (int m = 0; m < n; ++m) {
    std::uint64_t below = ~std::uint64_t(0);
    for (int w = 0; w < kCalmWords; ++w) {
      std::uint64_t v;
      std::memcpy(&v, calm[m]->bits + 8 * w, sizeof v);  // x86: byte b at bits 8b .. 8b+7
      all[w] &= m == 0 ? v : v << m | below >> (64 - m);
      below = v;
    }
  }
  std::memcpy(out, all, sizeof all);
}

// Whether bits x .. x+n-1 (0 <= x < kPad, n <= 56) of `bits` are all set.
inline bool allSet(const unsigned char* bits, int x, int n) {
  std::uint64_t v;
  std::memcpy(&v, bits + x / 8, sizeof v);  // x86: byte b at bits 8b .. 8b+7
  const std::uint64_t want = (std::uint64_t(1) << n) - 1;
  return (v >> (x % 8) & want) == want;
}

// Whether every Psi value the block's weights read is calm, and whether
// every one is 0 or within the range of the unchecked divisions. Row r+1-m
// is read by lanes m-2 .. m: columns c0-m-1 .. c0-m+10, skewed bits c0-1 ..
// c0+10.
inline void testBlock(const PsiRows& p, double pr, int rows, int c0, bool& calm, bool& inRange) {
  calm = allSet(p.skewedCalm, c0 - 1, 12);
  inRange = true;
  if (calm) return;
  if (p.inRange < 0) {
    p.inRange = 1;
    for (int m = 0; m <= rows + 1 && p.inRange; ++m) p.inRange = rowInRange(*p.calm[m], pr);
  }
  inRange = p.inRange;
}

// Weight X (W, S, E, N) of lane k's eight columns j .. j+7: `above`, `row`
// and `below` point at column j of the lane's three rows. Each weight loads
// its own four Psi vectors (from L1): fewer values live at once than with all
// nine.
template <int X, bool Full, bool InRange>
inline Vec laneWeight(const double* above, const double* row, const double* below, int j,
                      const Vec pr) {
  auto at = [j](const double* r, int d) {
    if constexpr (Full)
      return vload(r + d);
    else
      return vloadMasked(columnMask(j + d, 0, NY), r + d);
  };
  if constexpr (X == 0)
    return weightPlus<InRange>(
        faceVelocity<InRange>(at(below, 1), at(below, -1), at(row, 1), at(row, -1)), pr);
  if constexpr (X == 1)
    return weightPlus<InRange>(
        faceVelocity<InRange>(at(below, -1), at(above, -1), at(below, 0), at(above, 0)), pr);
  if constexpr (X == 2)
    return weightMinus<InRange>(
        faceVelocity<InRange>(at(above, 1), at(above, -1), at(row, 1), at(row, -1)), pr);
  return weightMinus<InRange>(
      faceVelocity<InRange>(at(below, 1), at(above, 1), at(below, 0), at(above, 0)), pr);
}

template <bool Full, bool InRange>
inline void computeBlock(const PsiRows& p, int rows, int c0, const Vec pr, BlockWeights& out) {
  // Row r+1-m from column c0-m on: lane k's rows above, at and below it,
  // from its first column c0-k on, are skewed[k], skewed[k+1] + 1 and
  // skewed[k+2] + 2.
  const double* skewed[10];
  for (int m = 0; m <= rows + 1; ++m) skewed[m] = p.row[m] + (c0 - m);
  Vec r[4][8];
  for (int k = 0; k < 8; ++k) {
    if (k >= rows) {
      for (int x = 0; x < 4; ++x) r[x][k] = vset(kStillWeight);
      continue;
    }
    const double *above = skewed[k], *row = skewed[k + 1] + 1, *below = skewed[k + 2] + 2;
    const int j = c0 - k;
    // The empty asm statements (no instructions) keep each weight's four Psi
    // loads beside its arithmetic: left free, the compiler hoists all of a
    // lane's loads ahead of its four weights and, with 16 ymm registers,
    // spills and reloads them (9 % more instructions in this function).
    r[0][k] = laneWeight<0, Full, InRange>(above, row, below, j, pr);
    asm volatile("" ::: "memory");
    r[1][k] = laneWeight<1, Full, InRange>(above, row, below, j, pr);
    asm volatile("" ::: "memory");
    r[2][k] = laneWeight<2, Full, InRange>(above, row, below, j, pr);
    asm volatile("" ::: "memory");
    r[3][k] = laneWeight<3, Full, InRange>(above, row, below, j, pr);
  }
  for (int x = 0; x < 4; ++x) {
    transpose8(r[x]);
    for (int s = 0; s < 8; ++s) vstoreAligned(out.w[s][x], r[x][s]);
  }
}

// The weights of the block of a group with `rows` rows starting at step c0.
// `Full`: every column the block reads lies in 0..920. Inlined into the
// wavefront's block loop whatever the compiler's estimate of its size.
template <bool Full>
[[gnu::always_inline]] inline void blockWeights(const PsiRows& p, double prandtl, int rows, int c0,
                                                BlockWeights& out) {
  bool calm, inRange;
  testBlock(p, prandtl, rows, c0, calm, inRange);
  out.still = calm;
  if (calm) return;
  const Vec pr = vset(prandtl);
  if (inRange)
    computeBlock<Full, true>(p, rows, c0, pr, out);
  else
    computeBlock<Full, false>(p, rows, c0, pr, out);
}

}  // namespace
}  // namespace plume
