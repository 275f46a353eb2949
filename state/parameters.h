// The parameter file "Result/parametrs" and the initial state of the fields.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plume {

inline constexpr const char* kParameterFile = "Result/parametrs";

struct ParameterValues {
  double Gr = 0.0;
  double Pr = 0.0;
  double tBottom = 0.0;
  double tTop = 0.0;
  double tLeft = 0.0;
  double tRight = 0.0;
};

// Reads the six numbers Gr, Pr, tBottom, tTop, tLeft, tRight from the file's
// text. Returns the Windows-1251 message naming the value at fault when the
// text has fewer than six numbers, a token that is not a number, a value
// outside the double range, or a negative Pr. Text after the sixth number is
// ignored.
std::optional<std::string> parseParameters(std::string_view text, ParameterValues& values);

// The six values of the running case, as set by setInitialState.
extern ParameterValues parameterValues;

// Stores Gr and Pr (and all six in parameterValues) and sets the fields to
// their initial state with the given wall temperatures.
void setInitialState(const ParameterValues& values);

// Reads and checks the parameter file into `values`. Returns the
// Windows-1251 message for the user when the file is missing or malformed;
// `values` is then left as it was.
std::optional<std::string> readParameterFile(ParameterValues& values);

}  // namespace plume
