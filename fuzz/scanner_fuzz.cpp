// Fuzz target: any STL file content, scanned in this process along the
// converter's own path: the scanner filling the facet stream, the stream
// converting into the mesh store. Every input must end in a defined way: a
// scan outcome whose counts and line numbers agree with the store and the
// input, never a crash, a hang or an access out of bounds.
//
// An input costs in proportion to its size: the store, the stream's batch
// and the file are made once and reused, and the conversion runs on the
// scanning thread, as in both programs.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "io/line_reader.h"
#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"
#include "reading/stl_scanner.h"
#include "reading/store_filling.h"

namespace {

// One file for every input, its content replaced each time.
int input_file(const std::uint8_t* data, std::size_t size) {
  static const int file = ::memfd_create("STL_Model.stl", 0);
  // Written over, then cut to the new size: the pages of the file are kept
  // from one input to the next rather than freed and cleared again.
  if (file < 0 || ::pwrite(file, data, size, 0) != static_cast<ssize_t>(size) ||
      ::ftruncate(file, static_cast<off_t>(size)) != 0 || ::lseek(file, 0, SEEK_SET) != 0) {
    std::abort();
  }
  // The reader owns and closes what it is given: a second descriptor of
  // the file, which shares its position.
  return ::dup(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static mesh::MeshStore store;
  static const bool reserved = store.reserve();
  if (!reserved) std::abort();
  static reading::StoreFilling filling(store);
  // A small limit, so that refusing a facet is reached too.
  static reading::FacetStream facets(filling, 50);
  store.clear();
  if (!facets.start()) std::abort();
  io::LineReader stl(input_file(data, size), "STL_Model.stl");
  const reading::ScanOutcome outcome = facets.finish(reading::scan_stl(stl, facets));

  const auto lines = std::count(data, data + size, std::uint8_t{'\n'});
  if ((outcome.end == reading::ScanEnd::clean) != (outcome.line_number == 0)) __builtin_trap();
  if (outcome.line_number < 0 || outcome.line_number > lines + 1) __builtin_trap();
  if (outcome.facets < 0 || outcome.facets > 50 || 7 * outcome.facets > lines) __builtin_trap();
  if (outcome.end == reading::ScanEnd::invalid_coordinate && outcome.token.empty()) {
    __builtin_trap();
  }
  if (outcome.token.size() > reading::VERTEX_LINE_LENGTH) __builtin_trap();
  // Every facet the outcome counts is in the store, and no other.
  const mesh::MeshView mesh = store.view();
  if (mesh.facet_count != outcome.facets || mesh.node_count != 3 * outcome.facets) {
    __builtin_trap();
  }
  return 0;
}
