// Which instruction set the solver kernels run with.
#pragma once

namespace plume {

enum class Isa { Generic, Avx2, Avx512 };

// The CPU (and the operating system) supports everything *_avx512.cpp files
// are built with: AVX-512 F, DQ, VL, BW, AVX2, FMA, BMI2.
bool cpuHasAvx512();
// ... everything *_avx2.cpp files are built with: AVX2, FMA, BMI2.
bool cpuHasAvx2Fma();

// Reads a PLUME_ISA value: "avx512", "avx2" or "generic". False for anything
// else, `isa` then untouched.
bool parseIsa(const char* text, Isa& isa);

// The best instruction set available that is not above `cap`.
Isa chooseIsa(Isa cap, bool hasAvx512, bool hasAvx2Fma);

// The best instruction set of this CPU, capped by the environment variable
// PLUME_ISA when it is set and not empty. Decided on the first call; an
// unknown PLUME_ISA value is reported on standard error and ignored.
Isa selectedIsa();

const char* isaName(Isa isa);

}  // namespace plume
