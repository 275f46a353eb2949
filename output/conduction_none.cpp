// A build without FFTW has no conduction state: the Nusselt number is left out.
#include "output/conduction.h"

namespace plume {

std::optional<double> solveConduction(const Case&, Field&) { return std::nullopt; }

std::optional<double> conductionSourceFlow(const Case&) { return std::nullopt; }

}  // namespace plume
