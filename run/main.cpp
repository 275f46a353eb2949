// plume: steady natural convection around a line heat source in a cavity.
// Reads Result/parametrs in the working directory. `plume --resume`
// continues the run saved in this Gr's checkpoint; no other argument is taken.
//
// Exit status: 0 converged or at the iteration limit, 1 parameter file
// missing or malformed, a result folder that cannot be made or written, or a
// checkpoint that cannot be resumed; 2 diverged; 4 a result file or the
// checkpoint could not be written; 64 bad arguments; 128 + the signal that
// stopped it.

#include <string_view>

#include "output/results.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "output/run_summary.h"
#include "run/outer_loop.h"
#include "run/segments.h"
#include "solver/iteration_step.h"
#include "state/initial_state.h"

int main(int argc, char** argv) {
  using namespace plume;
  initConsole();
  const bool resume = argc == 2 && std::string_view(argv[1]) == "--resume";
  if (argc > 1 && !resume) {
    consoleWrite(ru("Использование: plume [--resume]\n"
                    "  без аргументов  новый расчет по файлу Result/parametrs\n"
                    "  --resume        продолжение расчета из его контрольной точки\n"));
    return 64;
  }
  static State state;  // the fields, in static storage: zero at start-up
  static kernel::Workspace workspace;  // the production kernels' storage
  Case c;
  if (!startFromParameterFile(state, c)) return 1;
  if (!prepareResultFolders()) {
    waitForKey();
    return 1;
  }
  LoopStart start;
  int status = 0;
  if (!prepareStart(resume, kSchedule, state, c, start, status)) {
    waitForKey();
    return status;
  }
  installInterruptHandlers();

  beginSegment();
  RunOutcome outcome = runIterations(
      kSchedule, start, state, [&c](State& s) { iterationStep(s, c, workspace); },
      [&c](const SavePoint& point) { saveRunState(state, c, point); });
  double elapsed = segmentSeconds();

  if (outcome.end == RunEnd::Exhausted) reportLimitReached(outcome, kSchedule);
  reportRun(c, elapsed, resume ? earlierSegmentsSeconds() + elapsed : -1.0);
  switch (outcome.end) {
    case RunEnd::Interrupted:
      return 128 + interruptSignal();
    case RunEnd::Diverged:
      waitForKey();
      return 2;
    default:
      waitForKey();
      return anySaveFailed() ? 4 : 0;
  }
}
