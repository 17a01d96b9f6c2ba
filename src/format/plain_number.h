// Numbers for the companions' messages, in the forms C's printf gives them
// ("%.0f", "%.4g"), built from the exact stored value as printf does, so a
// message reads the same whichever way it was made.
#pragma once

#include <string>

namespace format {

// `value` with `decimals` digits after the point, no exponent ("%.Nf").
std::string fixed_text(double value, int decimals);

// `value` to `digits` significant digits, with an exponent only when it is
// far from 1 and without trailing zeros ("%.Ng").
std::string general_text(double value, int digits);

}  // namespace format
