// The facet scanner: reads an ASCII STL file line by line and puts every
// facet it recognises, as text, into a facet stream.
//
// It is not a parser of the STL grammar. A facet is recognised by the
// eight characters "  facet " at the very start of a line; the facet's
// further lines are then taken by their fixed positions: one skipped line,
// three vertex lines, two skipped lines. No other keyword is compared, the
// normal is never read, and the scanner never resynchronises. Of a line it
// keeps the first 8 characters, or 80 of a vertex line, and a few facts
// about the rest, so a line of any length costs the same memory.
//
// The scanner ends nothing itself: it returns how the scan ended, and the
// caller (the converter's run sequence, the model check) decides what that
// means. It holds no state between calls.
#pragma once

#include <string_view>

#include "io/line_reader.h"
#include "reading/facet_stream.h"
#include "reading/facet_text.h"

namespace reading {

// Reads `stl` from its current position to its end, or to the first
// failure, putting each facet and each non-blank line skipped between
// facets into `facets` (started). The outcome is the scanner's own: pass
// it through facets.finish() for the scan's.
ScanOutcome scan_stl(io::LineReader& stl, FacetStream& facets);

}  // namespace reading
