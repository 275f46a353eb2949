// Numbers as the program prints them: general notation with six significant
// digits (as printf's %g), '.' as decimal point whatever the locale, two or
// more exponent digits. Non-finite values read "inf", "-inf", "nan", "-nan".
#pragma once

#include <string>

namespace plume {

void appendNumber(std::string& out, double v);
// The shortest text that reads back as the same double ("0.71", "1e+05").
void appendExactNumber(std::string& out, double v);
void appendInteger(std::string& out, long long v);
std::string formatNumber(double v);

}  // namespace plume
