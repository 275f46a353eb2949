// Settings the OpenMP runtime reads when it loads, before main(): how the
// waiting threads of the factorisation and the BLAS wait.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace plume::steady {

// What plume-steady sets where the user has set neither variable: threads
// that wait for work spin only briefly (GOMP_SPINCOUNT=2000, some
// microseconds), then sleep (OMP_WAIT_POLICY=passive). A long spin takes the
// cores the working threads need when other jobs hold some (with one of two
// cores busy, a factorisation on two threads took ten times as long as on
// one); sleeping at once makes each of the BLAS's thousands of parallel
// regions wait for a wake-up (the example's factorisation 7.2 s against 4.9 s).
// `given` tells whether a variable is set.
std::vector<std::pair<std::string, std::string>> libraryEnvironment(
    const std::function<bool(const char* name)>& given);

// Sets what libraryEnvironment() asks for and starts the program again, so
// that the runtime reads it. Returns only when nothing was to be set or the
// new start failed.
void prepareLibraryEnvironment(char** argv);

}  // namespace plume::steady
