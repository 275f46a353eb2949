// The console lines of the designed iteration: progress, convergence and
// other messages that name an iteration.
#pragma once

#include <string_view>

namespace plume {

// The progress line "Итерация = k<TAB>Невязка = residual".
void printProgress(int k, double residual);

// `text` followed by iteration number k, as one line.
void printIterationMessage(std::string_view text, int k);

// The two lines that say the stopping rule passed at iteration k.
void printConverged(int k);

}  // namespace plume
