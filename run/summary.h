#pragma once

#include <string>

namespace plume {

// The run summary (grid size, Gr and Pr, elapsed time of the loop) as
// Windows-1251 text: three lines and an empty line.
std::string runSummary(double elapsedSeconds);

// Prints the summary and stores it in the report file.
void reportRun(double elapsedSeconds);

}  // namespace plume
