// The order of a band's blocks: groups in windows of kWindow, each group
// kLag blocks behind the one above it; the band-edge wait and publication;
// the weights of each next block computed ahead.
#pragma once

#include <type_traits>

#include "solver/band_sync.h"
#include "solver/wavefront_weights.h"

namespace plume {
namespace {

constexpr int kLag = 2;  // blocks between consecutive groups

// Block b of a group lies away from the row ends: lane k's nodes of its
// steps, columns c0-k .. c0+7-k (c0 = 1 + 8b, k = 0 .. 7), lie within
// 1 .. 919 for every lane, and so do the values the block loads around them
// (eight of each row: the group's rows from column c0+1-k, the row below
// the group from c0-7, the row above it from c0). So such a block of a group
// of eight rows needs no masks. Block 0 reaches below column 1, block
// kBlocks-2 past column 919.
constexpr bool awayFromRowEnds(int b) { return b >= 1 && b < kBlocks - 2; }

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
      // The window runs interleaved when it holds kWindow groups of eight
      // rows (only a band's last group has fewer), every block of it lies
      // away from the row ends (the oldest, t - kLag * (kWindow - 1), after
      // block 0, the newest, t, before kBlocks - 2: awayFromRowEnds, written
      // out here, where a call costs the interleaved blocks 2 % more
      // instructions), and it is not the band's last window. That keeps the
      // band-edge wait out of interleaved blocks: only the band's last group
      // waits, before each of its blocks, for the previous band's first row,
      // and a wait there would hold up the steps of every group in the window.
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
        if (awayFromRowEnds(b) && groupOf(band, q).rows == 8)
          block(q, c0, std::true_type{});
        else
          block(q, c0, std::false_type{});
        if (q == 0) publishFirstRow(ws, band, reach);
      }
    }
    finish(q0, q1);
  }
}

// Runs steps(weights) for the blocks t, t-kLag, ... of a window of M groups
// (one group: M = 1): weights(m) the
// weights of group q0+m's block, all of them the constant when every block
// is still; each block's weights picked once, not at every step.
template <int M, class Steps>
inline void withWindowWeights(Ahead ahead, int q0, int t, Steps steps) {
  bool still = true;
  for (int m = 0; m < M && still; ++m) still = ahead.of(q0 + m, t - kLag * m).still;
  if (still) {
    steps([](int) { return StillWeights{}; });
    return;
  }
  Weights w[M];
  for (int m = 0; m < M; ++m) w[m] = weightsOf(ahead.of(q0 + m, t - kLag * m));
  steps([&](int m) { return w[m]; });
}

}  // namespace
}  // namespace plume
