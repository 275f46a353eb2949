// plume-steady: the converged plume by Newton's method on the discrete
// equations of plume's iteration, checked by running that iteration from the
// solution. Reads Result/parametrs in the working directory, as plume does;
// PETSc options may be given on the command line or in PETSC_OPTIONS.
// `--sweep FROM TO N` solves a series of Gr (steady/sweep.h).
//
// Exit status: see steady/finish.h.

#include <slepcsys.h>

#include <string>
#include <vector>

#include "output/results.h"
#include "output/run_summary.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "state/initial_state.h"
#include "steady/arguments.h"
#include "steady/branch_run.h"
#include "steady/console.h"
#include "steady/evolve.h"
#include "steady/finish.h"
#include "steady/newton.h"
#include "steady/solver_setup.h"
#include "steady/sweep.h"
#include "steady/library_environment.h"
#include "steady/stability_report.h"
#include "steady/step_stability.h"

namespace {

using namespace plume;
using namespace plume::steady;

void printStart(const Case& c) {
  std::string line = ru("Метод Ньютона для стационарного решения: Gr = ").str();
  appendNumber(line, c.Gr);
  line += ", Pr = ";
  appendNumber(line, c.Pr);
  line += '\n';
  say(line);
}

// Every process learns the first process's verdict.
PetscErrorCode shareStatus(int* status) {
  PetscFunctionBeginUser;
  PetscCallMPI(MPI_Bcast(status, 1, MPI_INT, 0, PETSC_COMM_WORLD));
  PetscFunctionReturn(0);
}

// Options given that nothing has read, once every option of the solver has
// been read; named on the console. On several processes MUMPS's own options
// are read only when it factorises, so they are not judged here.
PetscErrorCode refuseUnreadOptions(bool* refused) {
  PetscFunctionBeginUser;
  int processes = 1;
  PetscCallMPI(MPI_Comm_size(PETSC_COMM_WORLD, &processes));
  PetscInt n = 0;
  char **names, **values;
  PetscCall(PetscOptionsLeftGet(nullptr, &n, &names, &values));
  std::string unread;
  for (PetscInt k = 0; k < n; ++k) {
    std::string name = names[k][0] == '-' ? names[k] : std::string("-") + names[k];
    if (processes > 1 && name.rfind("-mat_mumps_", 0) == 0) continue;
    if (name.rfind("-eps_", 0) == 0 || name.rfind("-st_", 0) == 0) continue;
    unread += " " + name;
  }
  PetscCall(PetscOptionsLeftRestore(nullptr, &n, &names, &values));
  *refused = !unread.empty();
  if (*refused)
    say(ru("Неизвестные параметры (их никто не читает; список - plume-steady --help):").str() +
        unread + "\n");
  PetscFunctionReturn(0);
}

PetscErrorCode run(const Arguments& args, int* status) {
  PetscFunctionBeginUser;
  static State state;  // the fields, in static storage: zero at start-up
  Case c;
  *status = startFromParameterFile(state, c) ? kSolved : kNoStart;
  if (*status == kSolved && isFirstProcess() && !prepareResultFolders()) *status = kNoStart;
  PetscCall(shareStatus(status));
  if (*status != kSolved) PetscFunctionReturn(0);
  BranchRequest branch;
  bool branchGiven = false;
  PetscCall(readBranchRequest(&branch, &branchGiven));
  if (branchGiven) {
    *status = runBranch(branch, state, c);
    PetscCall(shareStatus(status));
    PetscFunctionReturn(0);
  }
  EvolveRequest evolve;
  bool evolveGiven = false, evolveBad = false;
  PetscCall(readEvolveRequest(&evolve, &evolveGiven, &evolveBad));
  if (evolveGiven) {
    *status = evolveBad ? kUsage : (isFirstProcess() ? runEvolve(evolve, state, c) : kSolved);
    PetscCall(shareStatus(status));
    PetscFunctionReturn(0);
  }
  NewtonRun newton;
  PetscCall(startNewtonRun(&newton));
  SteadyProblem problem;
  PetscCall(createSteadyProblem(&problem, &state));
  // The stability options are read here, before the refusal of unread ones;
  // SLEPc's own (-eps_*, -st_*) are read only when the eigensolver is set up.
  PetscBool wantStability = PETSC_FALSE;
  PetscCall(PetscOptionsHasName(nullptr, nullptr, "-stability", &wantStability));
  PetscInt nev = 0;
  PetscCall(PetscOptionsGetInt(nullptr, nullptr, "-stability_nev", &nev, nullptr));
  bool refused = false;
  PetscCall(refuseUnreadOptions(&refused));
  if (refused) {
    *status = kUsage;
  } else if (args.mode == Arguments::Mode::Sweep) {
    PetscCall(runSweep(args.sweep, c, problem, newton, status, wantStability));
  } else {
    printStart(c);
    Vec x;
    PetscCall(DMCreateGlobalVector(problem.da, &x));
    PetscCall(storeFields(problem, x));
    SolveOutcome outcome{};
    PetscCall(solveSteady(problem, x, 0.0, c, newton, &outcome));
    PetscCall(VecDestroy(&x));
    if (isFirstProcess()) {
      // Before the self-check, which iterates the fields on.
      StabilityFacts stability{};
      bool computed = wantStability && outcome.end == SolveEnd::Converged;
      if (computed) {
        // The Newton factors are not needed any more: their memory goes to the eigen-solves'.
        PetscCall(releaseNewtonFactors(problem.snes));
        stability = reportStability({state, c});
      }
      *status = finishState(state, c, outcome, MPI_Wtime() - newton.startTime,
                            problem.checkpoints, computed ? &stability : nullptr)
                    .status;
      reportRun(c, MPI_Wtime() - newton.startTime);
    }
  }
  PetscCall(destroySteadyProblem(&problem));
  PetscCall(shareStatus(status));
  PetscFunctionReturn(0);
}

}  // namespace

int main(int argc, char** argv) {
  plume::initConsole();
  Arguments args = parseArguments(argc, argv);
  if (args.mode == Arguments::Mode::Help || args.mode == Arguments::Mode::Bad) {
    if (args.mode == Arguments::Mode::Bad) consoleWrite(args.fault + "\n");
    consoleWrite(usageText());
    return args.mode == Arguments::Mode::Help ? 0 : kUsage;
  }
  prepareLibraryEnvironment(argv);
  std::vector<std::string> petscArgs =
      petscStyleArguments({args.petscArgs.begin(), args.petscArgs.end()});
  std::vector<char*> pointers;
  for (std::string& a : petscArgs) pointers.push_back(a.data());
  int petscArgc = static_cast<int>(pointers.size());
  pointers.push_back(nullptr);
  char** petscArgv = pointers.data();
  PetscCall(SlepcInitialize(&petscArgc, &petscArgv, nullptr, nullptr));
  int status = kNoStart;
  PetscCall(run(args, &status));
  bool first = isFirstProcess();
  PetscCall(SlepcFinalize());
  if (status != kNoStart && status != kUsage && first) plume::waitForKey();
  return status;
}
