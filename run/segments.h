// A run in segments: a fresh start or the continuation of a checkpoint
// (plume --resume), the saves that write the result files and the
// checkpoint, and the loop time over all segments.
#pragma once

#include "run/outer_loop.h"

namespace plume {

// Fresh start: tells when a checkpoint exists for case `c` (the first save
// keeps it as "….bin.old"); `start` stays at iteration 0. Resume: reads the
// checkpoint into `s` and `start`. False when there is nothing to run,
// after a message: `status` is 1 when the checkpoint is refused, 0 when its
// run has already ended (converged, or at this build's iteration limit).
bool prepareStart(bool resume, const LoopSchedule& schedule, State& s, const Case& c,
                  LoopStart& start, int& status);

// Takes the loop's start time; saves and summaries count from here.
void beginSegment();

// Loop time of this segment so far, and of the earlier ones a resumed run
// continues (0 for a fresh run).
double segmentSeconds();
double earlierSegmentsSeconds();

// A save of the loop: the result files and summary of `s`, and the
// checkpoint unless the run diverged (its last finite checkpoint stays). Fills
// the mirror half of `s` first.
void saveRunState(State& s, const Case& c, const SavePoint& point);

// True when a save so far could not write a result file or the checkpoint.
bool anySaveFailed();

// The line that ends a run at the iteration limit, with the last residual.
void reportLimitReached(const RunOutcome& outcome, const LoopSchedule& schedule);

}  // namespace plume
