// The state a run starts from.
#pragma once

#include "state/state.h"

namespace plume {

// Sets the fields to the initial state of case `c`: zero inside, the wall
// temperatures on the walls; omegaSqSum zero.
void setInitialState(State& s, const Case& c);

// Reads the parameter file into `c` and sets `s` to its initial state. False
// when the file is missing or malformed, after saying why and waiting for a
// key.
bool startFromParameterFile(State& s, Case& c);

}  // namespace plume
