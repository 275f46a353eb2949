// A build without FFTW has no conduction state: the Nusselt number is left out.
#include "output/conduction.h"

namespace plume {

std::optional<double> solveConduction(const ParameterValues&, Field&) { return std::nullopt; }

std::optional<double> conductionSourceFlow(const ParameterValues&) { return std::nullopt; }

}  // namespace plume
