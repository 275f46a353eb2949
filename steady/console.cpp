#include "steady/console.h"

#include <mpi.h>

#include "platform/platform.h"

namespace plume::steady {

bool isFirstProcess() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank == 0;
}

void say(std::string_view cp1251) {
  if (isFirstProcess()) consoleWrite(cp1251);
}

}  // namespace plume::steady
