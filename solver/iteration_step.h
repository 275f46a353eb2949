// One outer iteration's work: the temperature, vorticity and stream-function
// sweeps, in this order, and omegaSqSum from this iteration's vorticity.
#pragma once

namespace plume {

void iterationStep();

}  // namespace plume
