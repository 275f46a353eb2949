// plume-steady: the converged plume by Newton's method on the discrete
// equations of plume's iteration, checked by running that iteration from the
// solution. Reads Result/parametrs in the working directory, as plume does;
// PETSc options may be given on the command line or in PETSC_OPTIONS.
//
// Exit status: 0 solved and verified, 1 parameter file missing or malformed,
// 2 no convergence (the best state found is written, marked unconverged),
// 3 solved but the self-check did not pass (files written, unverified).

#include <omp.h>
#include <petscsys.h>

#include <cmath>
#include <string>

#include "output/checkpoint.h"
#include "output/results.h"
#include "output/summary_files.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "run/segments.h"
#include "run/summary.h"
#include "state/grid.h"
#include "state/parameters.h"
#include "steady/console.h"
#include "steady/newton.h"
#include "steady/self_check.h"

namespace {

using namespace plume;
using namespace plume::steady;

const char kHelp[] =
    "plume-steady: the steady state of plume's iteration by Newton's method.\n"
    "  -steady_max_steps N   Newton steps allowed in all (default 100)\n";

void printStart() {
  std::string line = ru("Метод Ньютона для стационарного решения: Gr = ").str();
  appendNumber(line, Gr);
  line += ", Pr = ";
  appendNumber(line, Pr);
  line += '\n';
  say(line);
}

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
  say(line);
}

int run() {
  if (!startFromParameterFile()) return 1;
  if (isFirstProcess()) checkResultFolders();
  printStart();
  double start = omp_get_wtime();
  SolveOutcome outcome = solveSteady();
  int status = 0;
  if (isFirstProcess()) {
    if (outcome.end != SolveEnd::Converged) {
      printFailure(outcome);
      writeResults();
      writeSummary(parameterValues, {"newton_steps", outcome.newtonSteps, false, NAN});
      status = 2;
    } else {
      std::string line = ru("Решение найдено за ").str();
      appendInteger(line, outcome.newtonSteps);
      line += ru(" шагов Ньютона, невязка = ");
      appendNumber(line, outcome.residual);
      consoleWrite(line + "\n");
      SelfCheck check = runSelfCheck();
      writeResults();
      writeSummary(parameterValues,
                   {"newton_steps", outcome.newtonSteps, check.passed, check.omegaSqSum});
      // plume --resume continues with the next designed iteration, whose
      // stopping test compares with the self-check's last sum.
      writeCheckpoint({check.iterations, check.omegaSqSum, omp_get_wtime() - start, false,
                       std::fabs(check.omegaSqSum - check.previousSum)});
      if (!check.passed) {
        line = ru("Самопроверка НЕ пройдена: правило остановки не выполнено за ").str();
        appendInteger(line, kSelfCheckIterations);
        line += ru(" итераций.\nФайлы результатов записаны, но решение не проверено.\n");
        consoleWrite(line);
        status = 3;
      }
    }
    reportRun(omp_get_wtime() - start);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  plume::initConsole();
  if (PetscInitialize(&argc, &argv, nullptr, kHelp) != 0) return 1;
  int status = run();
  MPI_Bcast(&status, 1, MPI_INT, 0, PETSC_COMM_WORLD);
  bool first = isFirstProcess();
  PetscFinalize();
  if (status != 1 && first) plume::waitForKey();
  return status;
}
