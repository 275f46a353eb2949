// The outer iteration loop: wall vorticity, source temperature, one iteration
// step, the residual and stopping test, progress lines and result saves.
#pragma once

#ifndef PLUME_MAX_ITERATIONS
#define PLUME_MAX_ITERATIONS 50000000
#endif
#ifndef PLUME_SAVE_INTERVAL
#define PLUME_SAVE_INTERVAL 100000
#endif
#ifndef PLUME_PROGRESS_INTERVAL
#define PLUME_PROGRESS_INTERVAL 100
#endif

#include <functional>

#include "solver/stopping.h"
#include "state/state.h"

namespace plume {

// Limits fixed when the program is built.
struct LoopSchedule {
  int maxIterations;     // the counter runs from 0 while below this
  int saveInterval;      // result files after iterations that are multiples of it
  int progressInterval;  // a progress line before iterations that are multiples of it
};

// Internal linkage: a test build of the program may compile its entry with
// a short schedule of its own.
constexpr LoopSchedule kSchedule{PLUME_MAX_ITERATIONS, PLUME_SAVE_INTERVAL,
                                        PLUME_PROGRESS_INTERVAL};

enum class RunEnd {
  Converged,    // the residual fell below the limit
  Exhausted,    // the iteration limit was reached
  Diverged,     // the residual became infinite or NaN
  Interrupted,  // SIGINT or SIGTERM arrived
};

struct RunOutcome {
  RunEnd end;
  int iteration;          // number of the last iteration run
  double residual = 0.0;  // its residual
};

// Where the loop starts: a fresh run at iteration 0 with nothing to compare,
// or a resumed one with the values its last save left.
struct LoopStart {
  int iteration = 0;            // number of the first iteration to run
  double prevOmegaSqSum = 0.0;  // compared by its stopping test
  double residual = 0.0;        // shown by its progress line
};

// The loop's state at a save, after iteration `completed` - 1.
struct SavePoint {
  int completed;          // iterations done: the next one's number
  double prevOmegaSqSum;  // what the next stopping test would compare with
  double residual;        // the last iteration's residual
  bool converged;         // the stopping test held
  bool diverged;          // the residual is not finite
};

// What the loop calls: one iteration's sweeps on the state (through
// bareIteration), and the save at a save point.
using IterationSweeps = std::function<void(State&)>;
using Save = std::function<void(const SavePoint&)>;

// The loop from `start` on state `s`; `save` learns the loop's state at each
// save.
RunOutcome runIterations(const LoopSchedule& schedule, const LoopStart& start, State& s,
                         const IterationSweeps& sweeps, const Save& save);

}  // namespace plume
