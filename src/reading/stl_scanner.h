// The facet scanner: reads the STL file on channel 5 and stores every facet
// it recognises in the mesh store.
//
// It is not a parser of the STL grammar. A facet is recognised by the
// eight characters "  facet " at the very start of a line; the facet's
// further lines are then taken by their fixed positions: one skipped line,
// three vertex lines, two skipped lines. No other keyword is compared, the
// normal is never read, and the scanner never resynchronises.
#pragma once

#include <string_view>

namespace reading {

inline constexpr std::string_view FACET_MARKER = "  facet ";
inline constexpr std::size_t LEAD_LENGTH = 8;
inline constexpr std::size_t VERTEX_LINE_LENGTH = 80;

inline constexpr std::string_view READ_FAILURE_MESSAGE =
    " Error in reading triangles. Program stopped!";
// A failed vertex-line read must not look like a successful conversion to
// a script that runs the solver next, so its stop ends with this status.
inline constexpr int READ_FAILURE_STATUS = 1;

// Reads channel 5 to its end. Returns only at a clean end of input between
// facets; every other ending goes through a report or a stop.
void scan_stl();

// Splits a vertex line (its first 80 characters) into blank-separated
// tokens: the first is the keyword and is ignored, the next three are x, y
// and z; a missing token reads as 0.0.
void read_corner(std::string_view line_text, double (&xyz)[3]);

}  // namespace reading
