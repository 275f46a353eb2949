#pragma once

namespace plume {

// Thom's rule: the vorticity on each wall node is -2/(h*h) times the stream
// function at the nearest interior node (Psi is 0 on the walls). The lower and
// upper walls are set first, then the left and right walls, so the corners
// take the left/right values; mirror nodes take the negated value.
void applyWallVorticity();

}  // namespace plume
