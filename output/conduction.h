// The pure-conduction state with a case's walls: no flow (Psi = 0, Gr = 0),
// the source node held at 1, the temperature equation reduced to the
// five-point Laplace equation. Its source flow is the reference of the
// Nusselt number. Needs FFTW; a build without it has no conduction state.
#pragma once

#include <optional>

#include "state/grid.h"
#include "state/parameters.h"

namespace plume {

// Fills `t` (walls as the initial state sets them) with the conduction state
// of the wall temperatures in `walls` (Gr and Pr are not used). Returns the
// temperature the walls alone give the source node: the conduction flow is
// zero where that is 1. Nothing, and `t` untouched, without FFTW.
std::optional<double> solveConduction(const Case& walls, Field& t);

// The heat flow leaving the source in that state, solved once per set of wall
// temperatures. Nothing where it is zero to rounding, or without FFTW.
std::optional<double> conductionSourceFlow(const Case& walls);

}  // namespace plume
