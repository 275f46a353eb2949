// plume-steady --branch FROM TO: the steady plume solved at Gr = FROM, then
// followed along its branch by pseudo-arclength continuation in Gr
// (steady/arclength.h) until Gr passes TO, the branch returns below FROM or
// the step budget ends. Every state goes into
// Result/251_301_5_150/branch.csv; folds, branch points and the states at
// the wanted Gr values are kept as checkpoints
// checkpoint_branch_<k>_Gr_<Gr>.bin, each checked by plume's own iteration.
#pragma once

#include <petscsys.h>

#include <string>
#include <vector>

#include "state/state.h"

namespace plume::steady {

struct BranchRequest {
  double from = 0, to = 0;
  std::vector<double> at;  // --at GR,...: states kept wherever the branch passes them
  int maxSteps = 200;      // -branch_steps N
  double firstStep = 0.02; // -branch_first_step DS (relative arclength)
  double maxStep = 1.0;    // -branch_max_step DS
  // -branch_start FILE: start from this checkpoint (a state kept along the
  // branch, or plume-steady's) instead of solving at FROM; Gr is the
  // checkpoint's, and the rows go on after those branch.csv already holds.
  std::string start;
  // --stability: both classes' leading eigenvalues at every state, and the
  // critical points between steps where one crosses zero, located and kept.
  bool stability = false;
};

// The command line with the branch's and time integration's long options in
// PETSc's form: --branch FROM TO becomes -branch FROM,TO; --at, --evolve,
// --mode, --perturb, --stability lose a dash. Other arguments are left as they are.
std::vector<std::string> petscStyleArguments(const std::vector<std::string>& args);

// The request from the options -branch FROM,TO [-at GR,...] [-branch_steps N]
// [-branch_first_step DS] [-branch_max_step DS] [-branch_start FILE]; *given
// false without -branch.
PetscErrorCode readBranchRequest(BranchRequest* request, bool* given);

// Path of the branch's table and of the checkpoint of its state k at Gr.
std::string branchTablePath();
std::string branchCheckpointPath(int k, double gr);

// One row of branch.csv; NaN leaves a column empty.
struct BranchTableRow {
  int k;
  double s, gr, psiMax, nu, qSource, sumOmegaSq;
  int stable;  // 1 stable, 0 unstable, -1 not computed
  double lambdaSymRe, lambdaSymIm, lambdaAntiRe, lambdaAntiIm;
  std::string label;
};
std::string branchTableHeader();
std::string branchTableLine(const BranchTableRow& row);

// Runs the whole branch on `state` from the case `c` of the parameter file
// (the fields at its initial state). Returns the exit
// status: 0 done and every kept state verified, 2 the start did not
// converge, 3 some kept state not verified by plume's iteration.
int runBranch(const BranchRequest& request, State& state, const Case& c);

}  // namespace plume::steady
