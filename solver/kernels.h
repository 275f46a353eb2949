// The production iteration step, one variant per instruction set. All give
// the same bits as the literal sweeps run on one thread, at any thread count.
#pragma once

#include "solver/kernel_workspace.h"
#include "state/state.h"

namespace plume::kernel {

void iterationStepGeneric(State& s, const Case& c, Workspace& ws);
void iterationStepAvx2(State& s, const Case& c, Workspace& ws);
void iterationStepAvx512(State& s, const Case& c, Workspace& ws);

}  // namespace plume::kernel
