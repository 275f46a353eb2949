// Console output of plume-steady: only the first process of an MPI run
// prints.
#pragma once

#include <string_view>

namespace plume::steady {

// Writes Windows-1251 text to the console on the first process.
void say(std::string_view cp1251);

// True on the first process, which writes the files and runs the self-check.
bool isFirstProcess();

}  // namespace plume::steady
