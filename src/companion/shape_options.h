// --min-angle DEG: the smallest angle a facet may have before both
// companions call it degenerate, read by the same rule in each so that a
// model the preparation mends to this limit is one the check accepts.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "companion/options.h"

namespace companion {

inline constexpr std::string_view MIN_ANGLE_OPTION = "--min-angle";

// Reads the option when `read` holds it (found in `rules` by name): a
// number from 0 (slivers alone are degenerate) up to, not including, 60
// (every triangle has an angle of at most 60 degrees, so a limit there
// would call every facet degenerate). Returns an empty string, or the
// one-line reason the value is not usable.
std::string read_min_angle(const ReadOptions& read, std::span<const OptionRule> rules,
                           double& min_angle_degrees);

// The option's line of a command's --help, with its default.
std::string min_angle_help();

}  // namespace companion
