#include "check/model_scan.h"

#include <algorithm>
#include <utility>

#include "reading/scan_status.h"
#include "reading/stl_scanner.h"
#include "records/status.h"

namespace check {

namespace {

// The shortest facet takes 14 bytes: the 8-byte facet line and six empty
// lines.
constexpr std::uint64_t SHORTEST_FACET_BYTES = 14;

}  // namespace

ModelScan scan_model(records::InputChannel& stl, std::uint64_t file_size,
                     std::int32_t facet_limit) {
  FacetCollector collector(static_cast<std::size_t>(
      std::min(file_size / SHORTEST_FACET_BYTES, static_cast<std::uint64_t>(facet_limit))));
  reading::FacetStream stream(collector, facet_limit);
  ModelScan scan;
  if (!stream.start(reading::FacetStream::Converter::caller)) {
    scan.out_of_memory = true;
    return scan;
  }
  scan.outcome = stream.finish(reading::scan_stl(stl, stream));
  if (collector.out_of_memory()) {
    scan.out_of_memory = true;
    return scan;
  }
  scan.facets = collector.take_facets();
  scan.facet_lines = collector.take_facet_lines();
  scan.line_facts = collector.line_facts();
  return scan;
}

int converter_report(reading::ScanEnd end) {
  records::Report report = reading::scan_report(end);
  if (report == records::Report::vertex_read_stop) report = records::Report::read_error;
  return records::report_number(report);
}

}  // namespace check
