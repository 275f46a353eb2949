// The parameter file "Result/parametrs": the case a run computes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "state/state.h"

namespace plume {

inline constexpr const char* kParameterFile = "Result/parametrs";

// Reads the six numbers Gr, Pr, tBottom, tTop, tLeft, tRight from the file's
// text. Returns the Windows-1251 message naming the value at fault when the
// text has fewer than six numbers, a token that is not a number, a value
// outside the double range, or a negative Pr. Text after the sixth number is
// ignored.
std::optional<std::string> parseParameters(std::string_view text, Case& values);

// Reads and checks the parameter file into `values`. Returns the
// Windows-1251 message for the user when the file is missing or malformed;
// `values` is then left as it was.
std::optional<std::string> readParameterFile(Case& values);

}  // namespace plume
