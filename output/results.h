// The five result files: temperature, vorticity, stream function and the
// central differences of the vorticity along i ("Vy") and along j ("Vx").
#pragma once

#include <string>

namespace plume {

// Creates the result folders, which also hold the checkpoints, where missing
// (as mkdir -p would) and makes sure files can be written in them. False,
// after a message naming the folder and the system's reason, when one cannot
// be created or written.
bool prepareResultFolders();

// Relative path of result file `index` (0 .. 4) for the current Gr.
std::string resultFileName(int index);

// Complete text of result file `index` from the current fields.
std::string resultFileText(int index);

// Writes all five files from the current fields, each replacing its old one
// only when complete. A file that cannot be written gets a one-line warning;
// the others are still written. False when any was not written.
bool writeResults();

}  // namespace plume
