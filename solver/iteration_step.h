// One outer iteration's work: the temperature, vorticity and stream-function
// sweeps, in this order, and omegaSqSum from this iteration's vorticity.
#pragma once

namespace plume {

void iterationStep();

// The production step keeps of the mirror half (rows 601..1199, which mirror
// rows 599..1) only row 601 current, the one the axis row reads; the others
// are filled by mirrorHalf (mirror.h) before anything reads whole fields
// (result files, traces, comparisons).

}  // namespace plume
