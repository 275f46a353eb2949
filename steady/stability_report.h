// plume-steady --stability: the stability of the solved state, printed and
// written beside its checkpoint.
#pragma once

#include <string>

#include "output/summary_files.h"
#include "steady/stability.h"

namespace plume::steady {

// The companion file of the checkpoint for the current Gr, holding the
// leading eigenvectors: Result/251_301_5_150/checkpoint_Gr_<Gr>.modes.bin.
//
// Layout, all numbers little-endian:
//   offset  size  content
//        0     8  magic "PLUMEMOD"
//        8     4  format version (uint32, 1)
//       12     4  rows of unknowns (uint32, 600: grid rows 1 .. 600)
//       16     4  columns of unknowns (uint32, 919: grid columns 1 .. 919)
//       20     4  modes stored (uint32, 2)
//       24     …  each mode: class (uint32, 0 same symmetry, 1 opposite),
//                 found (uint32, 0 or 1), Re and Im of the eigenvalue (double
//                 each), then the eigenvector's real and imaginary parts,
//                 each rows x cols x 3 doubles (T, Omega, Psi node by node,
//                 row after row)
// (beside the checkpoint for `gr`)
std::string modesPath(double gr);

// Writes the modes file; false after a message when it could not be written.
bool writeModes(const Stability& s, double gr);

// The same, beside the checkpoint at `checkpoint` (its name with .modes.bin
// for .bin), e.g. a state kept along a branch.
bool writeModesBeside(const std::string& checkpoint, const Stability& s);

// What the summaries and tables hold of it: NaN for a class not found.
StabilityFacts stabilityFacts(const Stability& s);

// One console line per class and the verdict, in the console's encoding.
std::string stabilityText(const Stability& s);

// Computes the stability of the state at `at`, prints it and writes the
// modes file. Returns what the summaries hold of it.
StabilityFacts reportStability(const Evaluation& at);

}  // namespace plume::steady
