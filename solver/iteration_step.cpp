#include "solver/iteration_step.h"

#include "solver/sweeps_literal.h"

namespace plume {

void iterationStep() { literal::iterationStep(); }

}  // namespace plume
