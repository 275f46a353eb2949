// The summary written beside the result files of every saved state:
// Result/251_301_5_150/summary_Gr_<Gr>.json with the case, the run's facts
// and the derived quantities, and axis_Gr_<Gr>.csv with y, T and the vertical
// velocity v along the symmetry axis (<Gr> as in the result file names).
// Numbers are written in the shortest form that reads back to the same
// double; a value that is not finite is JSON's null.
#pragma once

#include <string>

#include "output/derived.h"
#include "state/grid.h"
#include "state/parameters.h"

namespace plume {

// The linear stability of a steady state, where it was computed: the
// rightmost eigenvalue of each perturbation class about the axis.
struct StabilityFacts {
  bool stable;
  double symRe, symIm;    // same symmetry as the state
  double antiRe, antiIm;  // the opposite one
};

struct RunFacts {
  const char* countName;  // "iterations" (plume) or "newton_steps" (plume-steady)
  long long count;
  bool verified;      // plume's stopping rule passed / plume-steady's self-check passed
  double sumOmegaSq;  // of the last iteration; NaN where none was run
  const StabilityFacts* stability = nullptr;  // written after "verified" when given
};

std::string summaryPath(double gr);
std::string axisPath(double gr);

std::string summaryJson(const Case& c, const RunFacts& run, const Derived& d);
std::string axisCsv(const Field& t, const Field& psi);

// Derives the quantities of temperature `t` and stream function `psi` (whole
// fields, mirror half filled) and writes both files atomically; a file that
// cannot be written gets a warning.
Derived writeSummary(const Field& t, const Field& psi, const Case& c, const RunFacts& run);

}  // namespace plume
