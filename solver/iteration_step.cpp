#include "solver/iteration_step.h"

#include "solver/cpu_features.h"
#include "solver/kernels.h"
#include "state/grid.h"

namespace plume {

namespace {

using Step = void (*)();

Step chooseStep() {
  switch (selectedIsa()) {
    case Isa::Avx512: return kernel::iterationStepAvx512;
    case Isa::Avx2: return kernel::iterationStepAvx2;
    default: return kernel::iterationStepGeneric;
  }
}

}  // namespace

void iterationStep() {
  static const Step step = chooseStep();
  step();
}

}  // namespace plume
