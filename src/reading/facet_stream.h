// The stream of facet records from the scanner to the program that uses
// the facets. The scanner fills a batch of records; each time the batch is
// full, and at the end of the scan, the scanning thread converts the
// coordinates of its facets and hands every facet whole, with the skipped
// lines between, to the program's destination (the converter's mesh store,
// the model check's tables), so both programs see the very same facets.
// The conversion stays on the scanning thread: measured, a worker
// converting on a second core saved less than passing every record from
// core to core cost, and the converter's second core is better spent on
// the writing.
//
// Whole facets are converted in file order, so a coordinate that cannot be
// converted comes before any way the scanner itself may have ended; the
// vertex lines of a facet the scan ended in are converted last. The stream
// never ends the run: finish() returns the scan's outcome, and the caller
// alone decides what it means.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "reading/facet_text.h"

namespace reading {

enum class ScanEnd {
  clean,                 // end of input between facets
  end_of_file_in_facet,  // the file ends inside a facet
  read_failure,          // a line outside the vertex lines could not be read
  vertex_read_failure,   // a vertex line could not be read
  invalid_coordinate,    // a coordinate token is not a number, or overflows
  too_many_facets,       // one facet more than the program takes
};

struct ScanOutcome {
  ScanEnd end = ScanEnd::clean;
  // Facets read whole and stored; a failing facet is not counted.
  std::int32_t facets = 0;
  // 1-based line number where the scan stopped (0 for a clean end): the
  // vertex line of an invalid coordinate, the facet line of a facet cut off
  // by the end of the file or refused, the line that could not be read.
  std::int64_t line_number = 0;
  // The token that could not be converted (invalid_coordinate only).
  std::string token;
};

// Where the stream puts what it carries, in file order; never called after
// finish() has returned.
class FacetDestination {
 public:
  // A facet whose three corners converted; `empty_coordinates` counts, per
  // vertex line, the x, y, z tokens that were missing (read as 0.0).
  virtual void store_facet(const FacetText& text, const geometry::Triangle& corners,
                           const std::array<int, 3>& empty_coordinates) = 0;
  // A non-blank line skipped between facets.
  virtual void skipped_line(const SkippedLine& line) = 0;

 protected:
  ~FacetDestination() = default;
};

class FacetStream {
 public:
  // `facet_limit`: the facets the program takes; the scan stops at the
  // facet line of one more.
  FacetStream(FacetDestination& destination, std::int32_t facet_limit)
      : destination_(destination), facet_limit_(facet_limit) {}
  FacetStream(const FacetStream&) = delete;
  FacetStream& operator=(const FacetStream&) = delete;
  ~FacetStream() = default;

  // Takes the batch; false when the system refuses the memory. The stream
  // may start again after finish(): it forgets the last scan and keeps its
  // batch, so that scanning many small inputs (as a fuzzer does) costs no
  // batch per input.
  [[nodiscard]] bool start();

  // The scanner's side. begin_facet gives the record of the facet whose
  // facet line is `facet_line`, to be filled with its vertex lines; nullptr
  // when the facet is one more than the limit, or once a coordinate has
  // failed to convert, which stops the scan early.
  [[nodiscard]] FacetText* begin_facet(std::int64_t facet_line);
  // The facet begun last is whole.
  void end_facet() { ++batch_->facets; }
  // The scan ended inside the facet begun last, after this many of its
  // vertex lines.
  void cut_facet(int vertex_lines) {
    batch_->cut_facet_vertices = static_cast<std::uint32_t>(vertex_lines);
  }
  // A non-blank line skipped between facets; false once a coordinate has
  // failed to convert.
  bool note_skipped_line(std::int64_t line_number, SkippedKind kind);

  // Delivers the records still in the batch, so that every record has
  // reached the destination; returns the scan's outcome: the scanner's own,
  // or invalid_coordinate at the first coordinate that could not be
  // converted.
  ScanOutcome finish(const ScanOutcome& scanned);

 private:
  // Delivers the batch being filled and empties it; false once a
  // conversion has failed.
  bool hand_over();
  // Delivers a batch unless a coordinate has failed already; notes a
  // failure. After one, batches are only emptied.
  void deliver_unless_failed(const FacetTextBatch& batch);
  // One batch to the destination; false at a coordinate that cannot be
  // converted, recorded as the failure.
  bool deliver(const FacetTextBatch& batch);
  // Converts the first `count` vertex lines of a facet; false, with the
  // failure recorded, at a coordinate that cannot be converted.
  bool convert(const FacetText& facet, std::size_t count, geometry::Triangle& corners,
               std::array<int, 3>& empty_coordinates);

  FacetDestination& destination_;
  std::int32_t facet_limit_;
  // The batch being filled (nullptr until started) and the facets begun.
  std::unique_ptr<FacetTextBatch> batch_;
  std::int32_t facets_begun_ = 0;
  // The facets stored, and the first coordinate that failed once there is
  // one: after it the batches are only emptied.
  std::int32_t facets_stored_ = 0;
  bool failed_ = false;
  std::int64_t failed_line_ = 0;
  std::array<char, VERTEX_LINE_LENGTH> failed_token_{};
  std::size_t failed_token_length_ = 0;
};

}  // namespace reading
