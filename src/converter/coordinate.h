// Conversion of one coordinate token of a vertex line to a double.
//
// The accepted syntax is wider than the usual one: exponent letters E, D and
// Q in either case, or a bare sign ("1.5+3" is 1500.0); INF, INFINITY and
// NAN(...) words; a token without digits reads as zero. A NUL ends the token.
#pragma once

#include <string_view>

namespace converter {

// Converts the token; returns false on a syntax failure or an overflow, and
// then leaves value unchanged. Underflow is not a failure.
[[nodiscard]] bool parse_coordinate(std::string_view token, double& value);

// The form the scanner uses: a token that cannot be converted ends the run
// with the "invalid REAL" report (547).
double convert_coordinate(std::string_view token);

}  // namespace converter
