#include "check/model_scan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "reading/stl_scanner.h"
#include "records/status.h"

namespace check {

namespace {

// The shortest facet takes 14 bytes: the 8-byte facet line and six empty
// lines.
constexpr std::uint64_t SHORTEST_FACET_BYTES = 14;

}  // namespace

ModelScan scan_model(io::LineReader& stl, std::uint64_t file_size, std::int32_t facet_limit) {
  FacetCollector collector(static_cast<std::size_t>(
      std::min(file_size / SHORTEST_FACET_BYTES, static_cast<std::uint64_t>(facet_limit))));
  reading::FacetStream stream(collector, facet_limit);
  ModelScan scan;
  if (!stream.start()) {
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

std::string read_whole_model(int fd, std::uint64_t size, reading::ModelRead& model) {
  if (std::string problem = reading::read_model(fd, size, model); !problem.empty()) {
    return problem;
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    return std::string("cannot read it again from its start: ") + std::strerror(errno);
  }
  return {};
}

int converter_report(reading::ScanEnd end) {
  using records::Report;
  switch (end) {
    case reading::ScanEnd::clean:
      return 0;
    case reading::ScanEnd::end_of_file_in_facet:
      return records::report_number(Report::end_of_file);
    case reading::ScanEnd::read_failure:
    case reading::ScanEnd::vertex_read_failure:
      break;
    case reading::ScanEnd::invalid_coordinate:
      return records::report_number(Report::invalid_real);
    case reading::ScanEnd::too_many_facets:
      return records::report_number(Report::model_too_large);
  }
  return records::report_number(Report::read_error);
}

}  // namespace check
