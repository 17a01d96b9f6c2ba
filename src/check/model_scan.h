// The converter's scan of an STL file, run for the model check: the same
// scanner, the same facet stream with its conversion, the same facet limit,
// and the facets kept for the analysis. A binary file, of which the
// converter reads nothing, is also read whole by the any-style reader, so
// that its geometry is checked all the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check/facet_collector.h"
#include "io/line_reader.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"
#include "reading/model_reader.h"

namespace check {

struct ModelScan {
  reading::ScanOutcome outcome;
  std::vector<geometry::Triangle> facets;  // the facets read whole
  std::vector<std::int64_t> facet_lines;   // per facet, its facet line (1-based)
  LineFacts line_facts;
  // The memory for the facets, or the stream's batches, was refused: the
  // scan stopped and nothing above holds.
  bool out_of_memory = false;
};

// Reads `stl` to its end or to the point where the converter would stop,
// which takes `facet_limit` facets. `file_size` (bytes) sizes the facet
// table up front. When the memory for the facets, or the stream's batches,
// is refused, the scan says so (out_of_memory) instead of going on.
ModelScan scan_model(io::LineReader& stl, std::uint64_t file_size,
                     std::int32_t facet_limit = mesh::MAX_FACETS);

// Reads the whole model from `fd` (a regular file of `size` bytes, at its
// start) with the any-style reader, and puts the file back at its start for
// the converter's scan. Returns an empty string, or the one line that says
// why the model cannot be read.
std::string read_whole_model(int fd, std::uint64_t size, reading::ModelRead& model);

// The report the converter gives for the way its scan ended: 0 for a clean
// end. A vertex line that cannot be read ends the converter with a stop
// message and status 1 rather than a report; for the check it is a read
// failure like any other (39).
int converter_report(reading::ScanEnd end);

}  // namespace check
