#include "reading/scan_status.h"

namespace reading {

records::Report scan_report(ScanEnd end) {
  using records::Report;
  switch (end) {
    case ScanEnd::clean:
      return Report::none;
    case ScanEnd::end_of_file_in_facet:
      return Report::end_of_file;
    case ScanEnd::read_failure:
      return Report::read_error;
    case ScanEnd::vertex_read_failure:
      return Report::vertex_read_stop;
    case ScanEnd::invalid_coordinate:
      return Report::invalid_real;
    case ScanEnd::too_many_facets:
      return Report::model_too_large;
  }
  return Report::read_error;  // not reached: every ending is listed
}

records::Status scan_status(ScanEnd end, const records::InputChannel& stl) {
  const records::Report report = scan_report(end);
  // The stop and the invalid number name no file.
  if (report == records::Report::vertex_read_stop || report == records::Report::invalid_real) {
    return {report};
  }
  if (report == records::Report::none) return {};
  return {report, stl.unit(), stl.path()};
}

}  // namespace reading
