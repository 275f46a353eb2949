// The sweeps written literally, node by node, with the weights evaluated
// afresh at every node. They are the reference that the production kernels
// are tested against, bit for bit, and the baseline of the benchmark.
#pragma once

namespace plume::literal {

void sweepTemperature();
void sweepVorticity(double (&bandSqSum)[4]);
void sweepStreamFunction();

// One iteration's three sweeps, in order, and omegaSqSum from the band sums.
void iterationStep();

}  // namespace plume::literal
