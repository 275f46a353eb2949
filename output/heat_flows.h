// Heat flows of a state by the temperature equation's own discrete fluxes:
// out of the source node and into each wall, per unit length of the line
// source, in the model's units (temperature difference times conductivity).
//
// The face flux from node P to its neighbour B is
//   F = s * (T_P - T_B) + q * T_P
// where s is the sweep's weight of B at P times h*h and q = h*Pr*e the face's
// convective flux, e its velocity, positive from P to B. The stream function
// makes the face velocities around every node add up to zero, so the sum of
// the node equations telescopes: at a converged state the source's flow equals
// the walls' to rounding.
#pragma once

#include "state/grid.h"

namespace plume {

struct HeatFlows {
  double source = 0.0;  // leaving the source node through its four faces
  double bottom = 0.0;  // into the wall j = 0
  double top = 0.0;     // into the wall j = NY
  double left = 0.0;    // into the wall i = 0
  double right = 0.0;   // into the wall i = NX
  double balance = 0.0; // source minus the four walls
};

// The flows of temperature `t` carried by stream function `psi` (both whole
// fields, mirror half filled) at Prandtl number `pr`.
HeatFlows heatFlows(const Field& t, const Field& psi, double pr);

}  // namespace plume
