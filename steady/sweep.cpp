#include "steady/sweep.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "output/checkpoint.h"
#include "output/derived.h"
#include "platform/number_format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "solver/stopping.h"
#include "state/initial_state.h"
#include "steady/console.h"
#include "steady/finish.h"
#include "steady/stability_report.h"
#include "steady/step_stability.h"
#include "steady/sweep_plan.h"

namespace plume::steady {

namespace {

constexpr const char* kSweepFile = "Result/251_301_5_150/sweep.csv";

Case pointCase(const Case& base, double gr) {
  Case c = base;
  c.Gr = gr;
  return c;
}

// The rows of sweep.csv as they are, without the header.
std::vector<std::string> readRows() {
  std::vector<std::string> rows;
  std::ifstream in(kSweepFile);
  for (std::string line; std::getline(in, line);)
    if (readRowKey(line)) rows.push_back(line);
  return rows;
}

bool writeRows(const std::vector<std::string>& rows) {
  std::string text = std::string(kSweepHeader) + "\n";
  for (const std::string& r : rows) text += paddedRow(r) + "\n";
  std::string reason;
  if (writeFileAtomically(kSweepFile, text, FileKind::Text, &reason)) return true;
  consoleWrite(ru("Предупреждение: не удалось записать файл '").str() + kSweepFile + "' (" +
               reason + ")\n");
  return false;
}

// A point is finished when its checkpoint holds this case and passed plume's
// stopping rule, and sweep.csv has its row as verified.
bool finishedBefore(const Case& c, const std::vector<std::string>& rows, bool stability) {
  CheckpointRead r = inspectCheckpoint(checkpointPath(c.Gr), c);
  if (r.status != CheckpointStatus::Loaded || !(r.meta.lastResidual < residualLimit)) return false;
  for (const std::string& line : rows) {
    std::optional<RowKey> key = readRowKey(line);
    if (sameCase(key->c, c) && key->status == "verified" && (!stability || rowHasStability(line)))
      return true;
  }
  return false;
}

SweepRow rowOf(const Case& c, const char* status, int steps, double seconds,
               const Derived& d, double sumOmegaSq) {
  SweepRow row{c, status, steps, seconds, {}, {}};
  const double values[] = {d.flows.source, d.flows.bottom, d.flows.top,     d.flows.left,
                           d.flows.right,  d.flows.balance};
  for (int k = 0; k < 6; ++k) row.quantities[k] = values[k];
  row.quantities[6] = d.nu;
  row.quantities[7] = d.psiMax.value;
  row.quantities[8] = d.psiMin.value;
  row.quantities[9] = d.uMax.value;
  row.quantities[10] = d.vMax.value;
  row.quantities[11] = sumOmegaSq;
  return row;
}

void printPoint(int k, int n, double gr, int steps, double seconds, double left) {
  std::string line = ru("Точка ").str();
  appendInteger(line, k);
  line += "/";
  appendInteger(line, n);
  line += ": Gr = ";
  appendNumber(line, gr);
  line += ru(", шагов Ньютона: ").str();
  appendInteger(line, steps);
  char text[96];
  std::snprintf(text, sizeof text, ", %.1f ", seconds);
  line += text;
  line += ru("с, осталось около ");
  std::snprintf(text, sizeof text, "%.0f ", left);
  line += text;
  line += ru("с\n");
  say(line);
}

void printStart(const SweepRange& r, const Case& base, int done) {
  std::string line = ru("Серия: ").str();
  appendInteger(line, r.count);
  line += ru(" значений Gr от ");
  appendNumber(line, r.from);
  line += ru(" до ");
  appendNumber(line, r.to);
  line += ru(" (равномерно по log|Gr|), Pr = ");
  appendNumber(line, base.Pr);
  line += ru(", температуры стенок из Result/parametrs; Gr из него (");
  appendNumber(line, base.Gr);
  line += ru(") не используется.\n");
  if (done > 0) {
    line += ru("Уже рассчитано ранее (проверенная контрольная точка с теми же параметрами): ");
    appendInteger(line, done);
    line += ru(" точек; считаются остальные.\n");
  }
  say(line);
}

// Puts into the problem's state and `x` the state the next point starts
// from: point `from`'s checkpoint, or the initial state.
PetscErrorCode loadStart(SteadyProblem& problem, Vec x, const Case& c, bool initial) {
  PetscFunctionBeginUser;
  if (initial) {
    setInitialState(*problem.state, c);
  } else {
    Case stored;
    CheckpointRead r = readCheckpoint(checkpointPath(c.Gr), &c, *problem.state, stored,
                                      problem.checkpoints);
    PetscCheck(r.status == CheckpointStatus::Loaded, PETSC_COMM_SELF, PETSC_ERR_FILE_READ,
               "checkpoint of a finished point no longer reads");
  }
  PetscCall(storeFields(problem, x));
  PetscFunctionReturn(0);
}

PetscErrorCode shareInt(int* v) {
  PetscFunctionBeginUser;
  PetscCallMPI(MPI_Bcast(v, 1, MPI_INT, 0, PETSC_COMM_WORLD));
  PetscFunctionReturn(0);
}

}  // namespace

PetscErrorCode runSweep(const SweepRange& range, const Case& base,
                        SteadyProblem& problem, NewtonRun& newton, int* status,
                        bool stability) {
  PetscFunctionBeginUser;
  const std::vector<double> points = sweepPoints(range);
  const int n = static_cast<int>(points.size());
  std::vector<std::string> rows = readRows();
  std::vector<bool> finished(n);
  int done = 0;
  for (int k = 0; k < n; ++k) done += finished[k] =
      finishedBefore(pointCase(base, points[k]), rows, stability);
  printStart(range, base, done);
  // Rows of this sweep's points that are computed again go; others stay.
  std::vector<std::string> kept;
  for (const std::string& line : rows) {
    std::optional<RowKey> key = readRowKey(line);
    bool again = false;
    for (int k = 0; k < n; ++k)
      again = again || (!finished[k] && sameCase(key->c, pointCase(base, points[k])));
    if (!again) kept.push_back(line);
  }
  rows = kept;
  *status = kSolved;
  if (isFirstProcess() && !writeRows(rows)) *status = kNotSaved;

  Vec x, before;
  PetscCall(DMCreateGlobalVector(problem.da, &x));
  PetscCall(VecDuplicate(x, &before));
  double computedSeconds = 0;
  int computed = 0;
  for (int k = 0; k < n; ++k) {
    if (finished[k]) continue;
    const Case c = pointCase(base, points[k]);
    const int from = nearestFinished(finished, k);
    const double fromGr = from < 0 ? 0.0 : points[from];
    // The finished point next to `from` on the far side from k, if any: the
    // secant through the two starts Newton (the same states on a resumed sweep).
    const int beyond = from < 0 ? -1 : from + (from < k ? -1 : 1);
    const bool secant = beyond >= 0 && beyond < n && finished[beyond];
    if (secant) PetscCall(loadStart(problem, before, pointCase(base, points[beyond]), false));
    PetscCall(loadStart(problem, x, pointCase(base, fromGr), from < 0));
    // Fresh factors at each point's first Newton step: those of the last
    // point are out of date, and a sweep resumed here then computes the same.
    PetscCall(SNESSetLagPreconditioner(problem.snes, -2));
    const double t0 = MPI_Wtime();
    SolveOutcome outcome{};
    PetscCall(solveSteady(problem, x, fromGr, c, newton, &outcome, secant ? before : nullptr,
                          secant ? points[beyond] : 0.0));
    int pointStatus = kSolved;
    // Before the self-check, which iterates the fields on.
    Stability modes;
    std::optional<StabilityFacts> facts;
    if (stability && outcome.end == SolveEnd::Converged && isFirstProcess()) {
      PetscCall(stabilityOfState(problem.snes, {*problem.state, c}, &modes));
      facts = stabilityFacts(modes);
    }
    if (isFirstProcess()) {
      Finished f = finishState(*problem.state, c, outcome, MPI_Wtime() - t0,
                               problem.checkpoints, facts ? &*facts : nullptr);
      if (facts) writeModes(modes, c.Gr);
      const bool converged = outcome.end == SolveEnd::Converged;
      pointStatus = converged ? f.status : kNotConverged;
      const bool verified = converged && f.check.passed;
      const double sum = converged ? f.check.omegaSqSum : NAN;
      const double seconds = MPI_Wtime() - t0;
      const char* rowStatus = !converged ? "failed" : (verified ? "verified" : "unverified");
      SweepRow row = rowOf(c, rowStatus, outcome.newtonSteps, seconds, f.derived, sum);
      row.stability = facts;
      rows.push_back(sweepCsvLine(row));
      if (!writeRows(rows) && converged) pointStatus = kNotSaved;
      computedSeconds += seconds;
      ++computed;
      int left = 0;
      for (int m = k + 1; m < n; ++m) left += !finished[m];
      printPoint(k + 1, n, c.Gr, outcome.newtonSteps, seconds, computedSeconds / computed * left);
      if (!converged) {
        std::string line = ru("Точка ").str();
        appendInteger(line, k + 1);
        line += ru(" (Gr = ");
        appendNumber(line, c.Gr);
        line += ru(") не достигнута: продолжение дошло до Gr = ");
        appendNumber(line, outcome.reachedGr);
        line += ru(". Серия остановлена; ее строка в sweep.csv помечена failed.\n");
        consoleWrite(line);
      }
    }
    PetscCall(shareInt(&pointStatus));
    if (pointStatus == kNotConverged) {
      *status = kNotConverged;
      break;
    }
    if (pointStatus == kSolved) finished[k] = true;
    if (pointStatus == kNotSaved || (pointStatus == kUnverified && *status == kSolved))
      *status = pointStatus;
  }
  PetscCall(VecDestroy(&x));
  PetscCall(VecDestroy(&before));
  PetscFunctionReturn(0);
}

}  // namespace plume::steady
