// plume-steady: the converged plume by Newton's method on the discrete
// equations of plume's iteration, checked by running that iteration from the
// solution. Reads Result/parametrs in the working directory, as plume does;
// PETSc options may be given on the command line or in PETSC_OPTIONS.
//
// Exit status: see steady/finish.h.

#include <omp.h>
#include <slepcsys.h>

#include <string>
#include <vector>

#include "output/results.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "run/segments.h"
#include "run/summary.h"
#include "state/grid.h"
#include "state/parameters.h"
#include "steady/branch_run.h"
#include "steady/console.h"
#include "steady/finish.h"
#include "steady/newton.h"
#include "steady/solver_setup.h"
#include "steady/stability_report.h"

namespace {

using namespace plume;
using namespace plume::steady;

const char kHelp[] =
    "plume-steady: the steady state of plume's iteration by Newton's method.\n"
    "  -steady_max_steps N   Newton steps allowed in all (default 100)\n"
    "  --branch FROM TO [--at GR,...]   follow the branch of steady states in Gr\n"
    "  --stability           after the solve, the rightmost eigenvalues of both perturbation\n"
    "                        classes, and their modes beside the checkpoint\n"
    "  -stability_nev N      eigenvalues per class (default 8)\n";

void printStart() {
  std::string line = ru("Метод Ньютона для стационарного решения: Gr = ").str();
  appendNumber(line, parameterValues.Gr);
  line += ", Pr = ";
  appendNumber(line, parameterValues.Pr);
  line += '\n';
  say(line);
}

// Every process learns the first process's verdict.
PetscErrorCode shareStatus(int* status) {
  PetscFunctionBeginUser;
  PetscCallMPI(MPI_Bcast(status, 1, MPI_INT, 0, PETSC_COMM_WORLD));
  PetscFunctionReturn(0);
}

PetscErrorCode run(int* status) {
  PetscFunctionBeginUser;
  *status = startFromParameterFile() ? kSolved : kNoStart;
  if (*status == kSolved && isFirstProcess() && !prepareResultFolders()) *status = kNoStart;
  PetscCall(shareStatus(status));
  if (*status != kSolved) PetscFunctionReturn(0);
  BranchRequest branch;
  bool branchGiven = false;
  PetscCall(readBranchRequest(&branch, &branchGiven));
  if (branchGiven) *status = runBranch(branch);
  if (branchGiven) PetscCall(shareStatus(status));
  if (branchGiven) PetscFunctionReturn(0);
  printStart();
  NewtonRun newton;
  PetscCall(startNewtonRun(&newton));
  SteadyProblem problem;
  PetscCall(createSteadyProblem(&problem));
  Vec x;
  PetscCall(DMCreateGlobalVector(problem.da, &x));
  PetscCall(storeFields(problem, x));
  SolveOutcome outcome{};
  PetscCall(solveSteady(problem, x, 0.0, parameterValues, newton, &outcome));
  PetscCall(VecDestroy(&x));
  PetscCall(destroySteadyProblem(&problem));
  PetscBool wantStability = PETSC_FALSE;
  PetscCall(PetscOptionsHasName(nullptr, nullptr, "-stability", &wantStability));
  if (isFirstProcess()) {
    // Before the self-check, which iterates the fields on.
    StabilityFacts stability{};
    bool computed = wantStability && outcome.end == SolveEnd::Converged;
    if (computed) stability = reportStability();
    *status = finishState(parameterValues, outcome, MPI_Wtime() - newton.startTime,
                          computed ? &stability : nullptr)
                  .status;
    reportRun(MPI_Wtime() - newton.startTime);
  }
  PetscCall(shareStatus(status));
  PetscFunctionReturn(0);
}

}  // namespace

int main(int argc, char** argv) {
  plume::initConsole();
  std::vector<std::string> args = petscStyleArguments({argv, argv + argc});
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  argc = static_cast<int>(args.size());
  argv = pointers.data();
  PetscCall(SlepcInitialize(&argc, &argv, nullptr, kHelp));
  int status = kNoStart;
  PetscCall(run(&status));
  bool first = isFirstProcess();
  PetscCall(SlepcFinalize());
  if (status != kNoStart && first) plume::waitForKey();
  return status;
}
