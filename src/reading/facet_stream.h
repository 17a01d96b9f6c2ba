// The stream of facet records from the scanner to the program that uses
// the facets. The scanner fills batches of records on its thread; the
// converting side takes each batch in file order, converts the coordinates
// of its facets and hands every facet whole, with the skipped lines
// between, to the program's destination (the converter's mesh store, the
// model check's tables), so both programs see the very same facets. Both
// programs convert on the scanning thread (Converter::caller): measured,
// a worker converting on a second core saved less than passing every
// record from core to core cost. The worker side stays for a machine
// where that balance turns.
//
// Whole facets are converted in file order, so a coordinate that cannot be
// converted comes before any way the scanner itself may have ended; the
// vertex lines of a facet the scan ended in are converted last.
//
// The worker takes no memory and never ends the run; finish() waits for it,
// so that the caller alone decides what the scan's outcome means, and
// destroying the stream stops it wherever it is. When the system refuses
// the thread, the scanning thread converts each batch itself as it hands it
// over: the same facets in the same order, on one core.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "reading/facet_text.h"
#include "records/buffer_ring.h"

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

// Where the worker puts what the stream carries, in file order. Called on
// the worker thread only, and never after finish() has returned.
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
  // Stops the worker, wherever the scan is.
  ~FacetStream() = default;

  // Which thread converts the batches.
  enum class Converter {
    worker,  // a second thread, while the scanner reads on
    caller,  // the scanning thread, as it hands each batch over: for a
             // program whose scan is a small part of its run, handing the
             // records from core to core costs more than it saves
  };

  // Takes the batches and starts the worker; false when the system refuses
  // the memory. A refused thread leaves the conversion to the scanner's side.
  // A stream converted by the caller may start again after finish(): it
  // forgets the last scan and keeps its batch, so that scanning many small
  // inputs (as a fuzzer does) costs no table per input.
  [[nodiscard]] bool start(Converter converter = Converter::worker);

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

  // Waits until every record handed over has reached the destination;
  // returns the scan's outcome: the scanner's own, or invalid_coordinate at
  // the first coordinate that could not be converted.
  ScanOutcome finish(const ScanOutcome& scanned);

 private:
  // Hands the batch being filled to the worker and takes the next free one;
  // false once a conversion has failed.
  bool hand_over();
  // Delivers a batch, on whichever thread converts, unless a coordinate has
  // failed already; notes a failure. After one, batches are only given back.
  void deliver_unless_failed(const FacetTextBatch& batch);
  // The worker's job: one batch to the destination; false at a coordinate
  // that cannot be converted, recorded as the failure.
  bool deliver(const FacetTextBatch& batch);
  // Converts the first `count` vertex lines of a facet; false, with the
  // failure recorded, at a coordinate that cannot be converted.
  bool convert(const FacetText& facet, std::size_t count, geometry::Triangle& corners,
               std::array<int, 3>& empty_coordinates);

  FacetDestination& destination_;
  std::int32_t facet_limit_;
  // The scanner's side: the batch being filled and the facets begun.
  FacetTextBatch* batch_ = nullptr;
  std::int32_t facets_begun_ = 0;

  // Set by the worker at the first coordinate that fails; after it the
  // batches are only given back. The worker's side begins a cache line of
  // its own: its count of stored facets changes with every facet, and
  // sharing a line with the scanner's side would make the two cores pass
  // it back and forth.
  alignas(64) std::atomic<bool> failed_ = false;
  // The worker's side: facets stored, and the failure once there is one.
  std::int32_t facets_stored_ = 0;
  std::int64_t failed_line_ = 0;
  std::array<char, VERTEX_LINE_LENGTH> failed_token_{};
  std::size_t failed_token_length_ = 0;

  // The one batch of a stream converted on the scanning thread.
  std::unique_ptr<FacetTextBatch> own_batch_;

  // Declared last: destroyed first, it stops the worker before the state
  // the worker uses goes.
  alignas(64) records::BufferRing batches_{sizeof(FacetTextBatch), 4};
};

}  // namespace reading
