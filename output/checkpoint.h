// The checkpoint: everything a run needs to continue bit for bit, in one
// binary file per Gr beside the result folders,
// Result/251_301_5_150/checkpoint_Gr_<Gr>.bin (<Gr> as in the result files).
//
// Layout, all numbers little-endian:
//   offset  size  content
//        0     8  magic "PLUMECKP"
//        8     4  format version (uint32, 1)
//       12     4  grid rows NX+1 (uint32, 1201)
//       16     4  grid columns NY+1 (uint32, 921)
//       20     4  rows stored, 0 .. axis row (uint32, 601)
//       24    48  Gr, Pr, tBottom, tTop, tLeft, tRight (double each)
//       72     8  completed iterations (int64): the next iteration's number
//       80     8  previous omegaSqSum, compared by the next stopping test
//       88     8  residual of the last iteration, shown by the next progress line
//       96     8  omegaSqSum of the last iteration
//      104     8  loop time of all run segments so far, seconds
//      112     4  flags (uint32): bit 0 = the run has converged
//      116     4  zero
//      120     …  T, Omega, Psi: rows 0 .. 600, 921 doubles each, row after row
//      end     4  CRC-32 (zlib) of all bytes before it
// The mirror half is rebuilt from the stored rows by the mirror rule, its wall
// values from the parameters and the wall-vorticity rule.
#pragma once

#include <cstdint>
#include <string>

#include "state/parameters.h"

namespace plume {

inline constexpr std::uint32_t kCheckpointVersion = 1;

struct CheckpointMeta {
  std::int64_t completedIterations;  // resume continues with this iteration (0 = from the start)
  double prevOmegaSqSum;             // the stopping test's previous value (0 before iteration 0)
  double loopSeconds;                // loop time of all run segments so far
  bool converged;
  double lastResidual = 0.0;  // shown by the progress line of the next iteration
};

// Size in bytes of a checkpoint of this format and grid.
std::size_t checkpointSize();

// Path of the checkpoint for Grashof number `gr`.
std::string checkpointPath(double gr);

// Whether the checkpoints this run writes are its own: once it has read or
// written one, it replaces them; before, a checkpoint already there belongs
// to another run and the first write keeps it as "….bin.old". One per run.
struct CheckpointHistory {
  bool own = false;
};

// Writes the checkpoint of state `s` of case `c` (fields read from rows
// 0 .. 600 only), at the path for c.Gr, under a temporary name, pushes it to
// the disk and renames it over the old one; one that is not the run's own
// (`history`) is first kept as "….bin.old". Returns false, after a one-line
// message naming the file, when it could not be written.
bool writeCheckpoint(const State& s, const Case& c, const CheckpointMeta& meta,
                     CheckpointHistory& history);

// The same under another name in the same folder (states along a branch).
bool writeCheckpointAt(const std::string& path, const State& s, const Case& c,
                       const CheckpointMeta& meta, CheckpointHistory& history);

enum class CheckpointStatus {
  Loaded,   // valid; fields, omegaSqSum and parameters set from it
  Missing,  // no such file
  Refused,  // unreadable, damaged, another format or grid, other parameters
};

struct CheckpointRead {
  CheckpointStatus status;
  std::string message;  // Windows-1251, naming the file and the reason, ending in "\n"
  CheckpointMeta meta{};
};

// Reads and validates the checkpoint at `path`. With `expected` the stored
// parameters must equal it bit for bit. Only a valid checkpoint changes
// anything: then `s` is set from it (mirror half rebuilt, omegaSqSum too),
// `c` to its stored case, and it becomes the run's own (`history`).
CheckpointRead readCheckpoint(const std::string& path, const Case* expected, State& s, Case& c,
                              CheckpointHistory& history);

// Validates the checkpoint like readCheckpoint against `expected` but
// changes no state: for the notice of a fresh start.
CheckpointRead inspectCheckpoint(const std::string& path, const Case& expected);

}  // namespace plume
