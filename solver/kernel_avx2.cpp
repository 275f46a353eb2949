// The production iteration step built for this file's instruction set.
#include "solver/kernel_impl.h"
#include "solver/kernels.h"

void plume::kernel::iterationStepAvx2(State& st, const Case& c, Workspace& ws) {
  iterationStepImpl(st, c, ws);
}
