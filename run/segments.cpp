#include "run/segments.h"

#include <omp.h>

#include <string>

#include "output/checkpoint.h"
#include "output/results.h"
#include "output/summary_files.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/mirror.h"
#include "state/parameters.h"

namespace plume {

namespace {

double segmentStart = 0.0;
double earlierSeconds = 0.0;

// The last checkpoint written, so the second save of a converged run does not
// write the same one again.
std::int64_t lastCheckpointed = -1;

bool saveFailed = false;

// The run's checkpoints: its own once it has read or written one.
CheckpointHistory checkpoints;

std::string number(long long n) {
  std::string s;
  appendInteger(s, n);
  return s;
}

}  // namespace

bool prepareStart(bool resume, const LoopSchedule& schedule, State& s, const Case& c,
                  LoopStart& start, int& status) {
  const std::string path = checkpointPath(c.Gr);
  const std::string named = ru("контрольной точки '").str() + path + "'";
  if (!resume) {
    CheckpointRead found = inspectCheckpoint(path, c);
    if (found.status == CheckpointStatus::Missing) return true;
    std::string notice;
    if (found.status == CheckpointStatus::Refused)
      notice = found.message + ru("Ее продолжить нельзя; ").str();
    else if (found.meta.converged)
      notice = ru("Есть контрольная точка '").str() + path +
               ru("' расчета, сошедшегося на итерации ").str() +
               number(found.meta.completedIterations - 1) + ".\n";
    else
      notice = ru("Есть контрольная точка '").str() + path +
               ru("', с которой расчет продолжится с итерации ").str() +
               number(found.meta.completedIterations) +
               ru(": чтобы продолжить его, используйте --resume (plume --resume).\n").str();
    notice +=
        ru("Расчет начат заново; первое сохранение оставит прежнюю контрольную точку как '").str() +
        path + ".old'\n";
    consoleWrite(notice);
    return true;
  }

  Case stored;
  CheckpointRead read = readCheckpoint(path, &c, s, stored, checkpoints);
  if (read.status == CheckpointStatus::Missing) {
    consoleWrite(ru("Нет ").str() + named +
                 ru(": продолжать нечего (новый расчет начинается без --resume)\n").str());
    status = 1;
    return false;
  }
  if (read.status == CheckpointStatus::Refused) {
    consoleWrite(read.message);
    status = 1;
    return false;
  }
  const CheckpointMeta& m = read.meta;
  if (m.converged) {
    consoleWrite(ru("Расчет ").str() + named + ru(" уже сошелся на итерации ").str() +
                 number(m.completedIterations - 1) + ru("; продолжать нечего\n").str());
    status = 0;
    return false;
  }
  if (m.completedIterations >= schedule.maxIterations) {
    consoleWrite(ru("Расчет ").str() + named + ru(" уже дошел до предела числа итераций (").str() +
                 number(schedule.maxIterations) + ru("); продолжать нечего\n").str());
    status = 0;
    return false;
  }
  start.iteration = static_cast<int>(m.completedIterations);
  start.prevOmegaSqSum = m.prevOmegaSqSum;
  start.residual = m.lastResidual;
  earlierSeconds = m.loopSeconds;
  lastCheckpointed = m.completedIterations;
  consoleWrite(ru("Расчет продолжается с итерации ").str() + number(start.iteration) +
               ru(" из ").str() + named + "\n");
  return true;
}

void beginSegment() { segmentStart = omp_get_wtime(); }

double segmentSeconds() { return omp_get_wtime() - segmentStart; }

double earlierSegmentsSeconds() { return earlierSeconds; }

void saveRunState(State& s, const Case& c, const SavePoint& point) {
  mirrorHalf(s.T, s.Omega, s.Psi);
  if (!writeResults(s, c.Gr)) saveFailed = true;
  // The iteration count plume printed: the number of the last iteration run.
  writeSummary(s.T, s.Psi, c, {"iterations", point.completed - 1, point.converged, s.omegaSqSum});
  if (point.diverged || point.completed == lastCheckpointed) return;
  CheckpointMeta meta{point.completed, point.prevOmegaSqSum, earlierSeconds + segmentSeconds(),
                      point.converged, point.residual};
  if (writeCheckpoint(s, c, meta, checkpoints))
    lastCheckpointed = point.completed;
  else
    saveFailed = true;
}

bool anySaveFailed() { return saveFailed; }

void reportLimitReached(const RunOutcome& outcome, const LoopSchedule& schedule) {
  std::string line = ru("Достигнут предел числа итераций (").str() +
                     number(schedule.maxIterations) +
                     ru("), условие сходимости не выполнено; последняя невязка = ").str();
  appendNumber(line, outcome.residual);
  consoleWrite(line + "\n");
}

}  // namespace plume
