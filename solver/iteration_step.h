// One outer iteration's work: the temperature, vorticity and stream-function
// sweeps, in this order, and omegaSqSum from this iteration's vorticity.
#pragma once

#include "solver/boundary.h"
#include "solver/kernel_workspace.h"
#include "state/state.h"

namespace plume {

// The production step for the instruction set chosen at start-up, with its
// working storage `ws` (one per program, kept from step to step).
void iterationStep(State& s, const Case& c, kernel::Workspace& ws);

// The production step keeps of the mirror half (rows 601..1199, which mirror
// rows 599..1) only row 601 current, the one the axis row reads; the others
// are filled by mirrorHalf (mirror.h) before anything reads whole fields
// (result files, traces, comparisons).

// One pass of the outer loop's body without progress line, stopping test or
// save: the wall vorticity and the source temperature held (holdBoundary),
// then `step(s)`, the three sweeps. The loop, the tools and the tests all
// iterate through this.
template <class Step>
inline void bareIteration(State& s, Step&& step) {
  holdBoundary(s);
  step(s);
}

}  // namespace plume
