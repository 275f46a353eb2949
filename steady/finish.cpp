#include "steady/finish.h"

#include <cmath>
#include <string>

#include "output/checkpoint.h"
#include "platform/number_format.h"
#include "output/results.h"
#include "output/summary_files.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace plume::steady {

namespace {

void printFailure(const SolveOutcome& o) {
  std::string line = o.end == SolveEnd::NonFinite
                         ? ru("Метод Ньютона разошелся: невязка не является конечным числом").str()
                         : ru("Метод Ньютона не сошелся за ").str();
  if (o.end != SolveEnd::NonFinite) {
    appendInteger(line, o.newtonSteps);
    line += ru(" шагов");
  }
  line += ru("; последняя невязка = ");
  appendNumber(line, o.residual);
  line += ru(".\nЗаписаны результаты лучшего принятого состояния: это НЕ сошедшееся решение.\n");
  consoleWrite(line);
}

}  // namespace

Finished finishState(State& s, const Case& c, const SolveOutcome& outcome, double seconds,
                     CheckpointHistory& checkpoints, const StabilityFacts* stability) {
  if (outcome.end != SolveEnd::Converged) {
    printFailure(outcome);
    bool written = writeResults(s, c.Gr);
    Derived d = writeSummary(s.T, s.Psi, c, {"newton_steps", outcome.newtonSteps, false, NAN});
    return {written ? kNotConverged : kNotSaved, {false, 0, 0.0, 0.0}, d};
  }
  std::string line = ru("Решение найдено за ").str();
  appendInteger(line, outcome.newtonSteps);
  line += ru(" шагов Ньютона, невязка = ");
  appendNumber(line, outcome.residual);
  consoleWrite(line + "\n");
  SelfCheck check = runSelfCheck(s, c);
  bool written = writeResults(s, c.Gr);
  Derived d = writeSummary(s.T, s.Psi, c, {"newton_steps", outcome.newtonSteps, check.passed,
                                       check.omegaSqSum, stability});
  // plume --resume continues with the next designed iteration, whose
  // stopping test compares with the self-check's last sum.
  written = writeCheckpoint(s, c,
                            {check.iterations, check.omegaSqSum, seconds, false,
                             std::fabs(check.omegaSqSum - check.previousSum)},
                            checkpoints) &&
            written;
  int status = kSolved;
  if (!check.passed) {
    line = ru("Самопроверка НЕ пройдена: правило остановки не выполнено за ").str();
    appendInteger(line, kSelfCheckIterations);
    line += ru(" итераций.\nФайлы результатов записаны, но решение не проверено.\n");
    consoleWrite(line);
    status = kUnverified;
  }
  if (!written) status = kNotSaved;
  return {status, check, d};
}

}  // namespace plume::steady
