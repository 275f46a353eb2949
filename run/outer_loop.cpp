#include "run/outer_loop.h"

#include <cmath>
#include <string>

#include "output/results.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/boundary.h"
#include "solver/iteration_step.h"
#include "solver/mirror.h"
#include "state/grid.h"

namespace plume {

void printProgress(int k, double residual) {
  std::string line = ru("Итерация = ").str();
  appendInteger(line, k);
  line += ru("\tНевязка = ");
  appendNumber(line, residual);
  line += '\n';
  consoleWrite(line);
}

namespace {

void printIterationMessage(std::string_view text, int k) {
  std::string line(text);
  appendInteger(line, k);
  line += '\n';
  consoleWrite(line);
}

}  // namespace

void printConverged(int k) {
  consoleWrite(ru("Достигнут предел невязки!!\n"));
  printIterationMessage(ru("Количество итераций = "), k);
}

namespace {

void saveResults(const SavePoint&) {
  mirrorHalf(T, Omega, Psi);
  writeResults();
}

void (*plainSave)() = nullptr;
void callPlainSave(const SavePoint&) { plainSave(); }

}  // namespace

void bareIteration(void (*step)()) {
  applyWallVorticity(Omega, Psi);
  T[srcI][srcJ] = kSourceTemperature;
  step();
}

RunOutcome runIterations() { return runIterationsFrom(kSchedule, {}, iterationStep, saveResults); }

RunOutcome runIterationsWith(const LoopSchedule& schedule, void (*step)(), void (*save)()) {
  plainSave = save;
  return runIterationsFrom(schedule, {}, step, callPlainSave);
}

RunOutcome runIterationsFrom(const LoopSchedule& schedule, const LoopStart& start, void (*step)(),
                             void (*save)(const SavePoint&)) {
  double prevOmegaSqSum = start.prevOmegaSqSum;
  double residual = start.residual;  // 0 for the progress line of iteration 0
  int lastSaved = -1;
  for (int iteration = start.iteration; iteration < schedule.maxIterations; ++iteration) {
    const int k = iteration;
    if (k % schedule.progressInterval == 0) printProgress(k, residual);

    bareIteration(step);

    residual = std::fabs(omegaSqSum - prevOmegaSqSum);
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
      prevOmegaSqSum = omegaSqSum;
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
