// The coordinates of one vertex line, as the converter reads them: the
// line's first 80 columns split at blanks.
#pragma once

#include <string_view>

#include "reading/facet_text.h"

namespace reading {

// Splits a vertex line (its first 80 characters) into blank-separated
// tokens: the first is the keyword and is ignored, the next three are x, y
// and z; a missing token reads as 0.0. Returns false, with `bad_token` set,
// when a coordinate token cannot be converted. `empty_tokens` counts the
// coordinate tokens that were empty.
bool read_corner(std::string_view line_text, geometry::Point& xyz, std::string_view& bad_token,
                 int& empty_tokens);

}  // namespace reading
