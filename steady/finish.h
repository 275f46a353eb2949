// What plume-steady does with a solved state on the first process: the
// self-check, the five result files and the checkpoint, and the messages
// that say what was written.
#pragma once

#include "output/checkpoint.h"
#include "output/derived.h"
#include "output/summary_files.h"
#include "steady/newton.h"
#include "steady/self_check.h"

namespace plume::steady {

// Exit statuses of plume-steady.
inline constexpr int kSolved = 0;         // solved and verified
inline constexpr int kNoStart = 1;        // parameter file, result folders or a checkpoint refused
inline constexpr int kNotConverged = 2;   // the best state found is written, marked unconverged
inline constexpr int kUnverified = 3;     // solved, but the self-check did not pass
inline constexpr int kNotSaved = 4;       // a result file or the checkpoint could not be written
inline constexpr int kUsage = 64;         // bad arguments or options

struct Finished {
  int status;        // kSolved, kNotConverged, kUnverified or kNotSaved
  SelfCheck check;   // of a converged state (not run otherwise: passed false)
  Derived derived;   // the quantities of the summary written beside the files
};

// Writes state `s` of case `c`, as `outcome` found it: a converged one is
// self-checked first (which iterates `s` on). The summary goes beside the
// files. `seconds` is the time of the solve, stored with the checkpoint
// (written as one of the program's `checkpoints`). For the first process
// only. `stability`, where computed, goes into the summary.
Finished finishState(State& s, const Case& c, const SolveOutcome& outcome, double seconds,
                     CheckpointHistory& checkpoints, const StabilityFacts* stability = nullptr);

}  // namespace plume::steady
