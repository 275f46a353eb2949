#include "solver/iteration_step.h"

#include "solver/kernels.h"

namespace plume {

namespace {

using Step = void (*)();

Step chooseStep() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
    return kernel::iterationStepAvx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return kernel::iterationStepAvx2;
  return kernel::iterationStepGeneric;
}

}  // namespace

void iterationStep() {
  static const Step step = chooseStep();
  step();
}

}  // namespace plume
