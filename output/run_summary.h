#pragma once

#include <string>

#include "state/state.h"

namespace plume {

// The run summary of case `c` (grid size, Gr and Pr, elapsed time of the loop) as
// Windows-1251 text: three lines and an empty line. A resumed run
// (totalSeconds >= 0) adds a fourth line, the loop time of all its segments.
std::string runSummary(const Case& c, double elapsedSeconds, double totalSeconds = -1.0);

// Prints the summary and stores it in the report file.
void reportRun(const Case& c, double elapsedSeconds, double totalSeconds = -1.0);

}  // namespace plume
