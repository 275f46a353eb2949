// Working storage of the production kernels, shared by the kernel variants
// for each instruction set (one of them runs in a process).
#pragma once

#include <cstdint>

#include "state/grid.h"

namespace plume::kernel {

// Row length of the weight arrays: room for the last vector of a row.
inline constexpr int kPad = 928;

// Weights of the convection-diffusion operator at each node of rows 1..600,
// computed once per iteration from Psi and Pr; the temperature and vorticity
// sweeps of that iteration both use them.
alignas(64) extern double weightW[NX / 2 + 1][kPad];
alignas(64) extern double weightS[NX / 2 + 1][kPad];
alignas(64) extern double weightE[NX / 2 + 1][kPad];
alignas(64) extern double weightN[NX / 2 + 1][kPad];

// The same weights for the AVX-512 wavefront, laid out along its skewed
// diagonals: for band b, row group q and step c (column c-k in lane k), the
// four weights W, S, E, N of the group's eight lanes, contiguous.
inline constexpr int kMaxGroups = 19;  // groups of eight rows in a band
inline constexpr int kSteps = 928;     // steps of a group, padded to blocks of eight
alignas(64) extern double diagonalWeights[4][kMaxGroups][kSteps][4][8];

// Per band, group and block of eight steps: every weight of the block is the
// still-flow weight 1/(h*h). Such blocks are left out of diagonalWeights.
inline constexpr int kStepBlocks = kSteps / 8;
extern bool stillBlock[4][kMaxGroups][kStepBlocks];

// Rows 151, 301 and 451 of a field as they were before a sweep: the first
// row of bands 1-3 reads the next band's last row from here.
alignas(64) extern double edgeT[3][kPad];
alignas(64) extern double edgeOmega[3][kPad];
alignas(64) extern double edgePsi[3][kPad];

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
