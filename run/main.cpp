// plume: steady natural convection around a line heat source in a cavity.
// Reads Result/parametrs in the working directory. `plume --resume`
// continues the run saved in this Gr's checkpoint; no other argument is taken.

#include <string_view>

#include "platform/platform.h"
#include "platform/text.h"
#include "run/outer_loop.h"
#include "run/segments.h"
#include "run/summary.h"
#include "solver/iteration_step.h"
#include "state/parameters.h"

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
  if (!startFromParameterFile()) return 1;
  checkResultFolders();
  LoopStart start;
  int status = 0;
  if (!prepareStart(resume, kSchedule, start, status)) {
    waitForKey();
    return status;
  }
  installInterruptHandlers();

  beginSegment();
  RunOutcome outcome = runIterationsFrom(kSchedule, start, iterationStep, saveRunState);
  double elapsed = segmentSeconds();

  if (outcome.end == RunEnd::Exhausted) reportLimitReached(outcome, kSchedule);
  reportRun(elapsed, resume ? earlierSegmentsSeconds() + elapsed : -1.0);
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
