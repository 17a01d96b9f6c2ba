// The run: reserve the mesh store, bind the three files, scan the STL file,
// report the model's size, write the solver deck and then the mesh view,
// and stop. The phases never overlap and never repeat; this is the only
// code that knows their order, and the only one that turns what a phase
// returns into a report.
#pragma once

#include <string_view>

#include "reading/stl_scanner.h"
#include "records/input_channel.h"

namespace run {

inline constexpr std::string_view READ_FAILURE_MESSAGE =
    " Error in reading triangles. Program stopped!";
// A failed vertex-line read must not look like a successful conversion to
// a script that runs the solver next, so its stop ends with this status.
inline constexpr int READ_FAILURE_STATUS = 1;

[[noreturn]] void run_converter();

// Ends the run as a scan that did not end cleanly requires (a report, or
// the stop of an unreadable vertex line); returns after a clean scan.
void end_failed_scan(const reading::ScanOutcome& outcome, const records::InputChannel& stl);

}  // namespace run
