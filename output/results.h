// The five result files: temperature, vorticity, stream function and the
// central differences of the vorticity along i ("Vy") and along j ("Vx").
#pragma once

#include <string>
#include <string_view>

namespace plume {

// Relative path of result file `index` (0 .. 4) for the current Gr.
std::string resultFileName(int index);

// Complete text of result file `index` from the current fields.
std::string resultFileText(int index);

// Writes all five files from the current fields. A file that cannot be
// written gets a one-line warning; the others are still written.
void writeResults();

// Writes `bytes` to `path` through a temporary file in the same folder that
// replaces the old file only when complete. Prints a warning and returns
// false when the file could not be written.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace plume
