// Pseudo-arclength continuation of steady equations F(x, p) = 0 in one
// parameter p (Gr for plume): a predictor along the branch's tangent and a
// corrector by Newton on F bordered with the arclength condition. A bordered
// Newton step solves twice with the same Jacobian, J a = -F and J b = -dF/dp,
// and takes the border in closed form, so one set of factors serves both.
// Lengths along the branch are measured relative to the state: a step of
// length ds changes |x| / |x0| and p / max(|p0|, 1) together by about ds.
#pragma once

#include <petscksp.h>

#include <functional>
#include <string>
#include <vector>

namespace plume::steady {

struct BranchEquations {
  std::function<PetscErrorCode(Vec x, double p, Vec f)> residual;
  std::function<PetscErrorCode(Vec x, double p, Vec g)> parameterDerivative;  // dF/dp
  std::function<PetscErrorCode(Vec x, double p, Mat J)> jacobian;  // sets J's values at (x, p)
  // Sign (+1, -1) of det J as last factorised, 0 when unknown. Optional.
  std::function<PetscErrorCode(int* sign)> determinantSign;
  KSP ksp = nullptr;  // solves with J; its preconditioner is renewed only when worn out
  Mat J = nullptr;
};

// A step just accepted, before its rows are handed out: its ends in p, the
// state it reached, whether a fold or branch point lies inside it (its row
// is handed out with the step's), and the state on the step at any p between
// its ends (Newton at that p from the nearer end, solved to the level of
// rounding; only where p does not turn inside the step).
struct StepView {
  double p0 = 0, p1 = 0;
  Vec x1 = nullptr;
  bool turned = false;
  std::function<PetscErrorCode(double p, Vec x, bool* ok)> stateAt;
};

// A state wanted on a step, at p, handed out as a row with `label`.
struct ExtraRow {
  double p;
  std::string label;
};

struct BranchSettings {
  double from = 0, to = 1;     // start at p = from, stop once p passes `to`
  int maxSteps = 200;          // continuation steps
  double firstStep = 0.02;     // relative arclength of the first step
  double maxStep = 0.25, minStep = 1e-7;
  double tolerance = 1e-8;     // |F| <= tolerance |x| ends a corrector
  int correctorSteps = 12;
  double locate = 1e-6;        // folds and branch points located to this, relative in p
  std::vector<double> keepAt;  // values of p whose states are wanted too
  // Told of every step not taken: the state it started from and the halved length.
  std::function<void(double p, double ds)> onShorterStep;
  // Told of a fold or branch point found inside the accepted step p0 -> p1
  // that could not be located (no state of the search converged). Optional.
  std::function<void(double p0, double p1, bool fold)> onUnlocated;
  // Told of every accepted step before its rows; the states it asks for are
  // handed out as rows too, in branch order with the step's others. Optional.
  std::function<PetscErrorCode(const StepView&, std::vector<ExtraRow>*)> examineStep;
};

// One state along the branch, handed to the caller in branch order.
struct BranchRow {
  int k = 0;           // index along the branch
  double s = 0;        // arclength from the start
  double p = 0;
  std::string label;   // "fold", "branch", "at" or empty
  bool polished = false;  // solved to the level of rounding
  int newtonSteps = 0;    // Newton steps of the whole branch so far
};

enum class BranchEnd { PassedEnd, ReturnedBelowStart, StepBudget, StepTooShort, StartFailed };

struct BranchOutcome {
  BranchEnd end;
  int steps;
  int folds, branchPoints;  // located and labelled
  int unlocated;            // found inside a step, but not located
};

// Follows the branch from the solution near `x` at p = settings.from (x is
// solved there first). Calls `onRow` for every accepted state with x holding
// it; on return x holds the last accepted state.
PetscErrorCode followBranch(const BranchEquations& eq, const BranchSettings& settings, Vec x,
                            const std::function<PetscErrorCode(const BranchRow&, Vec)>& onRow,
                            BranchOutcome* outcome);

}  // namespace plume::steady
