// The five result files: temperature, vorticity, stream function and the
// central differences of the vorticity along i ("Vy") and along j ("Vx").
#pragma once

#include <string>

#include "state/state.h"

namespace plume {

// Creates the result folders, which also hold the checkpoints, where missing
// (as mkdir -p would) and makes sure files can be written in them. False,
// after a message naming the folder and the system's reason, when one cannot
// be created or written.
bool prepareResultFolders();

// Relative path of result file `index` (0 .. 4) for Grashof number `gr`.
std::string resultFileName(double gr, int index);

// Complete text of result file `index` from the fields of `s` (mirror half
// filled).
std::string resultFileText(const State& s, int index);

// Writes all five files from the fields of `s` under the names for `gr`, each
// replacing its old one only when complete. A file that cannot be written gets a one-line warning;
// the others are still written. False when any was not written.
bool writeResults(const State& s, double gr);

}  // namespace plume
