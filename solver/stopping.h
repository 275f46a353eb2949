// The stopping rule of the designed iteration: the run has converged when
// omegaSqSum changes by less than this from one iteration to the next.
#pragma once

namespace plume {

inline constexpr double residualLimit = 1e-7;

}  // namespace plume
