#include "solver/cpu_features.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plume {

bool cpuHasAvx512() {
  __builtin_cpu_init();
  // __builtin_cpu_supports also checks that the OS saves the ZMM and mask registers.
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
         cpuHasAvx2Fma();
}

bool cpuHasAvx2Fma() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
         __builtin_cpu_supports("bmi2");
}

bool parseIsa(const char* text, Isa& isa) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "avx512") == 0) {
    isa = Isa::Avx512;
  } else if (std::strcmp(text, "avx2") == 0) {
    isa = Isa::Avx2;
  } else if (std::strcmp(text, "generic") == 0) {
    isa = Isa::Generic;
  } else {
    return false;
  }
  return true;
}

Isa chooseIsa(Isa cap, bool hasAvx512, bool hasAvx2Fma) {
  if (cap == Isa::Avx512 && hasAvx512) return Isa::Avx512;
  if (cap != Isa::Generic && hasAvx2Fma) return Isa::Avx2;
  return Isa::Generic;
}

Isa selectedIsa() {
  static const Isa selected = [] {
    Isa cap = Isa::Avx512;
    const char* request = std::getenv("PLUME_ISA");
    if (request != nullptr && *request != '\0' && !parseIsa(request, cap))
      std::fprintf(stderr, "PLUME_ISA=%s ignored: expected avx512, avx2 or generic\n", request);
    return chooseIsa(cap, cpuHasAvx512(), cpuHasAvx2Fma());
  }();
  return selected;
}

const char* isaName(Isa isa) {
  switch (isa) {
    case Isa::Generic: return "generic";
    case Isa::Avx2: return "avx2";
    case Isa::Avx512: return "avx512";
  }
  return "?";
}

}  // namespace plume
