// Working storage of the production kernels: what they keep between the
// rows, bands and sweeps of an iteration, and between iterations (the pass
// number). The caller makes one (about 20 MB, value-initialised: every
// value zero) and passes it to every step; the same layout serves the
// kernel of each instruction set.
#pragma once

#include <cstdint>

#include "solver/bands.h"
#include "state/grid.h"

namespace plume::kernel {

// Row length of the weight arrays: room for the last vector of a row.
inline constexpr int kPad = 928;

// Rows of a vector wavefront group: up to eight; a band has at most this
// many groups.
inline constexpr int kMaxGroups = 19;

// Groups of a band in flight at once in the vector wavefront.
inline constexpr int kWindow = 3;

// Which nodes of a row are calm (|Psi| at most the still-flow limit): bit c
// of byte v for column 8v + c. Columns past NY count as calm (no node reads
// them); the bytes are padded with such columns to whole 64-bit words, eight
// bytes past the last column at least, so that a span can be read as one
// word.
inline constexpr int kCalmBytes = kPad / 8 + 1;
inline constexpr int kCalmWords = (kCalmBytes + 8 + 7) / 8;
struct CalmRow {
  alignas(8) unsigned char bits[8 * kCalmWords];
  const double* psi;            // the row of Psi
  mutable signed char inRange;  // rowInRange's answer, -1 until asked
};

// Weights of one block of a wavefront group: weight x (W, S, E, N) of step s
// at w[s][x], lane k the group's row r-k; `still` when every one is the
// still-flow weight (and w is not filled).
struct BlockWeights {
  alignas(64) double w[8][4][8];
  bool still;
};

// The Psi rows around a group: row r+1-m at row[m], m = 0 .. rows+1 (the
// row above the group, its rows, the row below it), and which of their
// nodes are calm (found once per iteration, before the temperature sweep).
// `skewedCalm`: bit x (byte x/8, bit x%8) is set when column x - m of row
// r+1-m is calm for every m, the skew of the group's blocks.
struct PsiRows {
  const double* row[10];
  const CalmRow* calm[10];
  const unsigned char* skewedCalm;
  mutable signed char inRange = -1;  // of all these rows, -1 until asked
};

// Weights ahead of a sweep's wavefront in one band: the weights of group
// q's block b sit in ring[q][b % 2], computed just before the group's block
// b-1 runs (block 0's with it). `rows[q]`: the Psi rows group q reads.
struct WeightsAhead {
  int band;
  PsiRows rows[kMaxGroups];
  BlockWeights ring[kMaxGroups][2];
  const Field* field;  // the field the sweep updates
  bool vorticity;      // the sweep updates Omega and Psi (reads Psi at every block)
  double pr;           // Pr of the case
};

// Per band: how far it has stored its first row, as pass number * 1024 + the
// last column stored. The next band's last row waits until this reaches the
// columns it reads in the current pass. 64 bits on every platform (the pass
// number grows by two per iteration), each band's counter on its own cache
// line, apart from the data the bands write.
struct alignas(64) BandProgress {
  std::uint64_t firstRowDone;
};

struct Workspace {
  // Weights of the convection-diffusion operator at each node of rows
  // 1..600 as rows, computed once per iteration from Psi and Pr for the axis
  // row and the scalar lockstep; the temperature and vorticity sweeps of
  // that iteration both use them (the vector wavefront computes its own per
  // block).
  alignas(64) double weightW[NX / 2 + 1][kPad];
  alignas(64) double weightS[NX / 2 + 1][kPad];
  alignas(64) double weightE[NX / 2 + 1][kPad];
  alignas(64) double weightN[NX / 2 + 1][kPad];

  // Rows 151, 301 and 451 of a field as they were before a sweep: the first
  // row of bands 1-3 reads the next band's last row from here.
  alignas(64) double edgeT[3][kPad];
  alignas(64) double edgeOmega[3][kPad];
  alignas(64) double edgePsi[3][kPad];

  // Psi as it was before the vorticity sweep, for the weights of the vector
  // wavefront's vorticity sweep where others write Psi meanwhile: rows 150,
  // 300 and 450 (read below bands 2-4), the axis row, and per band the row
  // above each group.
  alignas(64) double edgePsiBelow[3][kPad];
  alignas(64) double axisPsiBefore[kPad];
  alignas(64) double psiAboveGroup[kBands][kMaxGroups][kPad];

  BandProgress bandProgress[kBands];
  // Read by every band at each block: on a cache line of its own, apart
  // from what the bands write.
  alignas(64) std::uint64_t passNumber;

  // Calm bits of Psi as it is before the iteration, for the rows a band's
  // groups read (the band's rows and the rows next to it); the temperature
  // sweep finds them, the vorticity sweep reuses them. And the skewed calm
  // bits of each group's rows, found with them.
  alignas(64) CalmRow bandCalm[kBands][kBandRows + 3];
  alignas(8) unsigned char bandSkewedCalm[kBands][kMaxGroups][8 * kCalmWords];

  // Per band, used by the thread that runs it: the wavefront's weights
  // ahead, the buoyancy source ((T[i+1][j] - T[i-1][j]) / 2h) * Gr of the
  // rows of a window of groups (row r-k of group q0+m at [8m + k]), and the
  // new vorticity of a scalar lockstep group for the band sum.
  WeightsAhead ahead[kBands];
  alignas(64) double windowBuoyancy[kBands][kWindow * 8][kPad];
  alignas(64) double lockstepOmega[kBands][8 * kPad];
};

}  // namespace plume::kernel
