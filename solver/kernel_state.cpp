#include "solver/kernel_state.h"

namespace plume::kernel {

alignas(64) double weightW[NX / 2 + 1][kPad];
alignas(64) double weightS[NX / 2 + 1][kPad];
alignas(64) double weightE[NX / 2 + 1][kPad];
alignas(64) double weightN[NX / 2 + 1][kPad];

alignas(64) double diagonalWeights[4][kMaxGroups][kSteps][4][8];
bool stillBlock[4][kMaxGroups][kStepBlocks];

alignas(64) double edgeT[3][kPad];
alignas(64) double edgeOmega[3][kPad];
alignas(64) double edgePsi[3][kPad];

BandProgress bandProgress[4];
std::uint64_t passNumber;

}  // namespace plume::kernel
