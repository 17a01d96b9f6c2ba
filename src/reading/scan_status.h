// What the way a scan ended means for a program that reads the model: the
// one table from scan endings to reports, shared by the converter and the
// model check, so that the two can never disagree.
#pragma once

#include "reading/stl_scanner.h"
#include "records/input_channel.h"
#include "records/status.h"

namespace reading {

// The report a scan ending amounts to: Report::none for a clean end.
records::Report scan_report(ScanEnd end);

// The same as the status of the run that read the model from stl: the
// report, with the channel and its file where the report names them.
records::Status scan_status(ScanEnd end, const records::InputChannel& stl);

}  // namespace reading
