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
inline constexpr double residualLimit = 1e-7;

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

// One pass of the loop's body without progress line, stopping test or save:
// the wall vorticity from Psi, the source held at 1, then `step` (the three
// sweeps). The loop, the tools and the tests all iterate through this.
void bareIteration(void (*step)());

// The progress line "Итерация = k<TAB>Невязка = residual".
void printProgress(int k, double residual);

// The two lines that say the stopping rule passed at iteration k.
void printConverged(int k);

// The loop with the program's own schedule, step and result writer.
RunOutcome runIterations();

// The loop with the given schedule, iteration step and result writer.
RunOutcome runIterationsWith(const LoopSchedule& schedule, void (*step)(), void (*save)());

// The loop from `start`; `save` learns the loop's state at each save.
RunOutcome runIterationsFrom(const LoopSchedule& schedule, const LoopStart& start, void (*step)(),
                             void (*save)(const SavePoint&));

}  // namespace plume
