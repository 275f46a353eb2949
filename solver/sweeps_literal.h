// The sweeps written literally, node by node, with the weights evaluated
// afresh at every node. They are the reference that the production kernels
// are tested against, bit for bit, and the baseline of the benchmark.
#pragma once

#include "state/state.h"

namespace plume::literal {

void sweepTemperature(State& s, const Case& c);
void sweepVorticity(State& s, const Case& c, double (&bandSqSum)[4]);
void sweepStreamFunction(State& s);

// One iteration's three sweeps, in order, and omegaSqSum from the band sums.
void iterationStep(State& s, const Case& c);

}  // namespace plume::literal
