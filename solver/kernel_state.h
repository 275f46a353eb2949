// Working storage of the production kernels, shared by the kernel variants
// for each instruction set (one of them runs in a process).
#pragma once

#include <cstdint>

#include "state/grid.h"

namespace plume::kernel {

// Row length of the weight arrays: room for the last vector of a row.
inline constexpr int kPad = 928;

// Weights of the convection-diffusion operator at each node of rows 1..600 as
// rows, computed once per iteration from Psi and Pr for the axis row and the
// scalar lockstep; the temperature and vorticity sweeps of that iteration
// both use them (the vector wavefront computes its own per block).
alignas(64) extern double weightW[NX / 2 + 1][kPad];
alignas(64) extern double weightS[NX / 2 + 1][kPad];
alignas(64) extern double weightE[NX / 2 + 1][kPad];
alignas(64) extern double weightN[NX / 2 + 1][kPad];

// Rows of a vector wavefront group: up to eight; a band has at most this
// many groups.
inline constexpr int kMaxGroups = 19;

// Rows 151, 301 and 451 of a field as they were before a sweep: the first
// row of bands 1-3 reads the next band's last row from here.
alignas(64) extern double edgeT[3][kPad];
alignas(64) extern double edgeOmega[3][kPad];
alignas(64) extern double edgePsi[3][kPad];

// Psi as it was before the vorticity sweep, for the weights of the vector
// wavefront's vorticity sweep where others write Psi meanwhile: rows 150,
// 300 and 450 (read below bands 2-4), the axis row, and per band the row
// above each group.
alignas(64) extern double edgePsiBelow[3][kPad];
alignas(64) extern double axisPsiBefore[kPad];
alignas(64) extern double psiAboveGroup[4][kMaxGroups][kPad];

// Per band: how far it has stored its first row, as pass number * 1024 + the
// last column stored. The next band's last row waits until this reaches the
// columns it reads in the current pass. 64 bits on every platform (the pass
// number grows by two per iteration), each band's counter on its own cache
// line, apart from the data the bands write.
struct alignas(64) BandProgress {
  std::uint64_t firstRowDone;
};
extern BandProgress bandProgress[4];
extern std::uint64_t passNumber;

}  // namespace plume::kernel
