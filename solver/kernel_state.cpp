#include "solver/kernel_state.h"

namespace plume::kernel {

alignas(64) double weightW[NX / 2 + 1][kPad];
alignas(64) double weightS[NX / 2 + 1][kPad];
alignas(64) double weightE[NX / 2 + 1][kPad];
alignas(64) double weightN[NX / 2 + 1][kPad];

alignas(64) double edgeT[3][kPad];
alignas(64) double edgeOmega[3][kPad];
alignas(64) double edgePsi[3][kPad];
alignas(64) double edgePsiBelow[3][kPad];
alignas(64) double axisPsiBefore[kPad];
alignas(64) double psiAboveGroup[4][kMaxGroups][kPad];

BandProgress bandProgress[4];
std::uint64_t passNumber;

}  // namespace plume::kernel
