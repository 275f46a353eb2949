// What the outer loop holds fixed before each iteration step: the vorticity
// on the walls and the temperature of the heat source.
#pragma once

#include "state/state.h"

namespace plume {

// The heat source's temperature, held at node (srcI, srcJ).
inline constexpr double kSourceTemperature = 1.0;

// Thom's rule: the vorticity on each wall node is -2/(h*h) times the stream
// function at the nearest interior node (Psi is 0 on the walls). The lower and
// upper walls are set first, then the left and right walls, so the corners
// take the left/right values; the mirror half's walls follow by the mirror
// rule (mirrorWallVorticity).
void applyWallVorticity(Field& omega, const Field& psi);

// What each iteration starts from: the wall vorticity from Psi
// (applyWallVorticity) and the source node at kSourceTemperature.
void holdBoundary(State& s);

// The wall vorticity of the mirror half, rows 601 .. 1200, from rows 599 .. 0.
void mirrorWallVorticity(Field& omega);

}  // namespace plume
