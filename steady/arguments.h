// plume-steady's own command-line arguments; everything else is left to
// PETSc as options.
#pragma once

#include <string>
#include <vector>

namespace plume::steady {

struct SweepRange {
  double from = 0, to = 0;  // nonzero, of the same sign
  int count = 0;            // at least 1; with 1, from equals to
};

struct Arguments {
  enum class Mode { Single, Sweep, Help, Bad } mode = Mode::Single;
  SweepRange sweep;
  std::string fault;               // Windows-1251, for Mode::Bad: what is wrong
  std::vector<char*> petscArgs;    // the program's name and the arguments PETSc reads
};

// Splits the command line: --help, -help and -h ask for the help text;
// "--sweep FROM TO N" asks for a sweep.
Arguments parseArguments(int argc, char** argv);

// The usage text, Windows-1251: the program's own options and where PETSc's
// are described.
std::string usageText();

}  // namespace plume::steady
