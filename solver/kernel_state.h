// Working storage of the production kernels, shared by the kernel variants
// for each instruction set (one of them runs in a process).
#pragma once

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

// Buoyancy source ((T[i+1][j] - T[i-1][j]) / 2h) * Gr of rows 1..600.
alignas(64) extern double buoyancy[NX / 2 + 1][kPad];

// Rows 151, 301 and 451 of a field as they were before a sweep: the first
// row of bands 1-3 reads the next band's last row from here.
alignas(64) extern double edgeT[3][kPad];
alignas(64) extern double edgeOmega[3][kPad];
alignas(64) extern double edgePsi[3][kPad];

// Per band: the number of the latest pass whose first row the band has
// stored. The next band's last row waits until it matches the current pass.
extern unsigned long firstRowDone[4];
extern unsigned long passNumber;

}  // namespace plume::kernel
