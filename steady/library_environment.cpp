#include "steady/library_environment.h"

#include <unistd.h>

#include <cstdlib>

namespace plume::steady {

std::vector<std::pair<std::string, std::string>> libraryEnvironment(
    const std::function<bool(const char* name)>& given) {
  if (given("OMP_WAIT_POLICY") || given("GOMP_SPINCOUNT")) return {};
  return {{"OMP_WAIT_POLICY", "passive"}, {"GOMP_SPINCOUNT", "2000"}};
}

void prepareLibraryEnvironment(char** argv) {
  auto set = libraryEnvironment([](const char* name) { return std::getenv(name) != nullptr; });
  if (set.empty()) return;
  for (const auto& [name, value] : set)
    if (setenv(name.c_str(), value.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
}

}  // namespace plume::steady
