// The run: reserve the mesh store, bind the three files, scan the STL file,
// report the model's size, write the solver deck and then the mesh view,
// and stop. This is the only code that knows the order of the phases, and
// the only one that turns what a phase returns into the run's ending.
#pragma once

#include "reading/facet_stream.h"
#include "records/status.h"

namespace run {

// The report the run ends with when its scan of the STL file ends so:
// Report::none for a clean end.
records::Report scan_report(reading::ScanEnd end);

// A failed vertex-line read must not look like a successful conversion to
// a script that runs the solver next, so its stop ends with this status.
inline constexpr int READ_FAILURE_STATUS =
    records::report_number(records::Report::vertex_read_stop);

[[noreturn]] void run_converter();

}  // namespace run
