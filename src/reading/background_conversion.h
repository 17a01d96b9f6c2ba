// The converter's facet sink: the scanner hands it the text of each facet's
// vertex lines, and a worker thread converts the coordinates and fills the
// mesh store while the scanner reads on. Converting the coordinates is half
// the work of a scan; this way it runs on a second core.
//
// Whole facets are handed over in file order, so a coordinate that cannot be
// converted there comes before any way the scanner itself may have ended;
// the vertex lines of a facet the scan ended in are converted last.
//
// The worker takes no memory and never ends the run; finish() waits for it,
// so that the caller alone decides what the scan's outcome means, and
// destroying the conversion stops it wherever it is. When the system
// refuses the thread, the scanning thread converts each batch itself as it
// hands it over: the same facets in the same order, on one core.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mesh/mesh_store.h"
#include "reading/stl_scanner.h"
#include "records/buffer_ring.h"

namespace reading {

class BackgroundConversion {
 public:
  explicit BackgroundConversion(mesh::MeshStore& store) : store_(store) {}
  BackgroundConversion(const BackgroundConversion&) = delete;
  BackgroundConversion& operator=(const BackgroundConversion&) = delete;
  // Stops the worker, wherever the scan is.
  ~BackgroundConversion() = default;

  // Takes the batches and starts the worker; false when the system refuses
  // the memory. A refused thread leaves the conversion to the scanner's side.
  [[nodiscard]] bool start();

  // The scanner's side (see FacetTextSink). begin_facet is false when the
  // store is full, and also once a coordinate has failed to convert, which
  // stops the scan early.
  [[nodiscard]] bool begin_facet();
  void vertex_text(std::int64_t line_number, std::string_view text) {
    if (texts_in_facet_++ == 0) {
      std::memcpy(batch_ + facet_start_, &line_number, sizeof line_number);
    }
    const auto length = static_cast<unsigned char>(text.size());
    batch_[cursor_] = static_cast<char>(length);
    std::memcpy(batch_ + cursor_ + 1, text.data(), length);
    cursor_ += 1 + std::size_t{length};
  }
  void end_facet() {
    filled_ = cursor_;
    texts_in_facet_ = 0;
  }

  // Waits until every facet handed over is converted and stored; returns
  // the scan's outcome: the scanner's own, or invalid_coordinate at the
  // first coordinate that could not be converted.
  ScanOutcome finish(const ScanOutcome& scanned);

 private:
  // A facet takes its first vertex line's number and three texts of at
  // most 80 characters, each after its length.
  static constexpr std::size_t MOST_PER_FACET = sizeof(std::int64_t) + 3 * (1 + VERTEX_LINE_LENGTH);
  static constexpr std::size_t BATCH_BYTES = std::size_t{256} << 10;
  static constexpr std::size_t BATCHES = 4;

  // Hands the batch being filled to the worker and takes the next free one;
  // false once a conversion has failed.
  bool hand_over();
  // Converts one batch into the store; false at a coordinate that cannot
  // be converted, recorded as the failure.
  bool convert(const records::BufferRing::Buffer& batch);
  // Converts the vertex texts of a facet from entry on, facets_stored_
  // coming before it; false, with the failure recorded, at a coordinate
  // that cannot be converted.
  bool convert_facet(const char*& entry, int texts, FacetCorners& corners);

  mesh::MeshStore& store_;
  // The scanner's side: the batch being filled.
  char* batch_ = nullptr;
  std::size_t filled_ = 0;       // bytes of whole facets
  std::size_t facet_start_ = 0;  // where the facet being read starts
  std::size_t cursor_ = 0;       // where its next vertex text goes
  int texts_in_facet_ = 0;       // vertex texts of that facet so far

  // Set by the worker at the first coordinate that fails; after it the
  // batches are only given back.
  std::atomic<bool> failed_ = false;
  // The worker's side: facets stored, and the failure once there is one.
  std::int32_t facets_stored_ = 0;
  std::int64_t failed_line_ = 0;
  std::array<char, VERTEX_LINE_LENGTH> failed_token_{};
  std::size_t failed_token_length_ = 0;

  // Declared last: destroyed first, it stops the worker before the state
  // the worker uses goes.
  records::BufferRing batches_{BATCH_BYTES, BATCHES};
};

}  // namespace reading
