#include "run/outer_loop.h"

#include <cmath>
#include <string>

#include "output/progress.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/iteration_step.h"

namespace plume {

RunOutcome runIterations(const LoopSchedule& schedule, const LoopStart& start, State& s,
                         const IterationSweeps& sweeps, const Save& save) {
  double prevOmegaSqSum = start.prevOmegaSqSum;
  double residual = start.residual;  // 0 for the progress line of iteration 0
  int lastSaved = -1;
  for (int iteration = start.iteration; iteration < schedule.maxIterations; ++iteration) {
    const int k = iteration;
    if (k % schedule.progressInterval == 0) printProgress(k, residual);

    bareIteration(s, sweeps);

    residual = std::fabs(s.omegaSqSum - prevOmegaSqSum);
    if (!std::isfinite(residual)) {
      // NaN never recovers and never passes the stopping test: stop here and
      // keep the fields for inspection.
      printIterationMessage(ru("Расчет разошелся: невязка не является конечным числом на итерации "), k);
      save({k + 1, prevOmegaSqSum, residual, false, true});
      return {RunEnd::Diverged, k, residual};
    }
    bool converged = residual < residualLimit;
    if (converged) {
      printConverged(k);
      iteration = schedule.maxIterations;
      save({k + 1, prevOmegaSqSum, residual, true, false});
    } else {
      prevOmegaSqSum = s.omegaSqSum;
    }
    if (iteration % schedule.saveInterval == 0) {
      save({k + 1, prevOmegaSqSum, residual, converged, false});
      lastSaved = k;
    }
    if (converged) return {RunEnd::Converged, k, residual};

    if (interruptSignal() != 0) {
      printIterationMessage(ru("Расчет прерван сигналом, сохраняются результаты итерации "), k);
      save({k + 1, prevOmegaSqSum, residual, false, false});
      return {RunEnd::Interrupted, k, residual};
    }
  }
  // Limit reached without convergence: keep the work done since the last save.
  const int last = schedule.maxIterations - 1;
  if (last >= start.iteration && lastSaved != last)
    save({last + 1, prevOmegaSqSum, residual, false, false});
  return {RunEnd::Exhausted, last, residual};
}

}  // namespace plume
