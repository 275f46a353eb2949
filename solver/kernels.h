// The production iteration step, one variant per instruction set. All give
// the same bits as the literal sweeps run on one thread, at any thread count.
#pragma once

namespace plume::kernel {

void iterationStepGeneric();
void iterationStepAvx2();
void iterationStepAvx512();

}  // namespace plume::kernel
