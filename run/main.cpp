// plume: steady natural convection around a line heat source in a cavity.
// Takes no arguments; reads Result/parametrs in the working directory.

#include <omp.h>

#include "run/outer_loop.h"
#include "platform/platform.h"
#include "run/summary.h"
#include "state/parameters.h"

int main() {
  using namespace plume;
  initConsole();
  if (readParameters() != 0) return 1;
  installInterruptHandlers();

  double startTime = omp_get_wtime();
  RunOutcome outcome = runIterations();
  double elapsed = omp_get_wtime() - startTime;

  reportRun(elapsed);
  switch (outcome.end) {
    case RunEnd::Interrupted:
      return 128 + interruptSignal();
    case RunEnd::Diverged:
      waitForKey();
      return 2;
    default:
      waitForKey();
      return 0;
  }
}
