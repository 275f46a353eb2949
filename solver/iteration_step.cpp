#include "solver/iteration_step.h"

#include "solver/cpu_features.h"
#include "solver/kernels.h"

namespace plume {

namespace {

using Step = void (*)(State&, const Case&, kernel::Workspace&);

Step chooseStep() {
  switch (selectedIsa()) {
    case Isa::Avx512: return kernel::iterationStepAvx512;
    case Isa::Avx2: return kernel::iterationStepAvx2;
    default: return kernel::iterationStepGeneric;
  }
}

}  // namespace

void iterationStep(State& s, const Case& c, kernel::Workspace& ws) {
  static const Step step = chooseStep();
  step(s, c, ws);
}

}  // namespace plume
