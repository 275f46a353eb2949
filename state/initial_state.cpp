#include "state/initial_state.h"

#include "platform/platform.h"
#include "platform/text.h"
#include "state/parameters.h"

namespace plume {

void setInitialState(State& s, const Case& c) {
  for (int i = 0; i <= NX; ++i)
    for (int j = 0; j <= NY; ++j) {
      s.Psi[i][j] = 0.0;
      s.Omega[i][j] = 0.0;
      s.T[i][j] = 0.0;
    }
  // Bottom and top walls first, then the left and right walls, so the four
  // corners take the left and right wall temperatures.
  for (int i = 0; i <= NX; ++i) {
    s.T[i][0] = c.tBottom;
    s.T[i][NY] = c.tTop;
  }
  for (int j = 0; j <= NY; ++j) {
    s.T[0][j] = c.tLeft;
    s.T[NX][j] = c.tRight;
  }
  s.omegaSqSum = 0.0;
}

bool startFromParameterFile(State& s, Case& c) {
  if (auto message = readParameterFile(c)) {
    consoleWrite(*message);
    waitForKey();
    return false;
  }
  setInitialState(s, c);
  return true;
}

}  // namespace plume
