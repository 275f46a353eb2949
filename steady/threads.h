// How plume-steady's threads wait: asleep, not spinning.
#pragma once

namespace plume::steady {

// Threads of the factorisation and the BLAS that wait for work sleep instead
// of spinning: on a machine where other jobs hold cores, spinning threads take
// the cores the working ones need (with one of two cores busy, a
// factorisation on two threads took ten times as long as on one). The OpenMP
// runtime reads its wait policy when it starts, before main(), so the program
// runs itself again with OMP_WAIT_POLICY=passive, unless that variable is set
// (a user's choice stays). Returns only when nothing was to be done or the
// new start failed.
void waitPassively(char** argv);

}  // namespace plume::steady
