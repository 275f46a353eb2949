// The production iteration step, one variant per instruction set. All give
// the same bits as the literal sweeps run on one thread, at any thread count.
#pragma once

#include "state/state.h"

namespace plume::kernel {

void iterationStepGeneric(State& s, const Case& c);
void iterationStepAvx2(State& s, const Case& c);
void iterationStepAvx512(State& s, const Case& c);

}  // namespace plume::kernel
