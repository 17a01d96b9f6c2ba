// Fuzz target: any STL file content, scanned in this process. Every input
// must end in a defined way: a scan outcome whose counts and line numbers
// agree with what the sink was handed, never a crash or an access out of
// bounds.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "records/input_channel.h"

namespace {

// Checks the scanner's promises to its sink as they are made.
struct CheckingSink {
  static constexpr bool WHOLE_LINES = true;
  std::int32_t begun = 0;
  std::int32_t stored = 0;
  std::int64_t last_line = 0;

  bool begin_facet() {
    if (begun != stored) __builtin_trap();  // one facet at a time
    ++begun;
    return true;
  }
  void store_facet(const reading::FacetCorners&) {
    if (begun != stored + 1) __builtin_trap();
    ++stored;
  }
  void skipped_line(std::int64_t line_number, std::string_view) { see(line_number); }
  void vertex_line(std::int64_t line_number, std::string_view, int empty) {
    if (empty < 0 || empty > 3) __builtin_trap();
    see(line_number);
  }
  void see(std::int64_t line_number) {
    if (line_number <= last_line) __builtin_trap();  // lines only move forward
    last_line = line_number;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Both sinks must see the same scan: the converter's store with its short
  // lines, and a sink that asks for whole lines.
  static mesh::MeshStore store;
  static const bool reserved = store.reserve();
  if (!reserved) std::abort();
  store.clear();
  reading::ScanOutcome outcomes[2];
  CheckingSink checking;
  for (int pass = 0; pass < 2; ++pass) {
    const int file = ::memfd_create("STL_Model.stl", 0);
    if (file < 0 || ::write(file, data, size) != static_cast<ssize_t>(size)) std::abort();
    ::lseek(file, 0, SEEK_SET);
    records::InputChannel stl(5, file, "STL_Model.stl");
    outcomes[pass] = pass == 0 ? reading::scan_stl(stl, store) : reading::scan_stl(stl, checking);
  }
  const reading::ScanOutcome& outcome = outcomes[0];
  if (outcome.end != outcomes[1].end || outcome.facets != outcomes[1].facets ||
      outcome.line_number != outcomes[1].line_number || outcome.token != outcomes[1].token) {
    __builtin_trap();
  }
  if (checking.stored != outcome.facets) __builtin_trap();
  if ((outcome.end == reading::ScanEnd::clean) != (outcome.line_number == 0)) __builtin_trap();
  if (outcome.end == reading::ScanEnd::invalid_coordinate && outcome.token.empty()) {
    __builtin_trap();
  }

  const mesh::MeshView mesh = store.view();
  // A failing facet has been counted by the store but never stored.
  const bool counted_failing_facet = outcome.end == reading::ScanEnd::end_of_file_in_facet ||
                                     outcome.end == reading::ScanEnd::invalid_coordinate ||
                                     outcome.end == reading::ScanEnd::vertex_read_failure;
  if (mesh.facet_count != outcome.facets + (counted_failing_facet ? 1 : 0)) __builtin_trap();
  if (mesh.node_count != 3 * outcome.facets) __builtin_trap();
  return 0;
}
