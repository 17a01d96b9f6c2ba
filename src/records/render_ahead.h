// Rendering ahead: the long record sections of the output files (one record
// per node or element) are rendered on a worker thread into chunks of
// memory, while the thread that writes hands the finished chunks to their
// channels, in order. The files receive the same bytes in the same order as
// when every record is rendered in place; the rendering only moves to the
// second core.
//
// Only the writing thread touches a channel. The worker renders into chunks
// nobody else touches until it hands them over, takes no memory and ends
// nothing. A refused write is returned to the writer; destroying the
// renderer then stops the worker wherever it is. When the system refuses
// the thread, the writing thread renders each chunk itself just before
// writing it: the same chunks, so the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "format/record_chunk.h"
#include "records/buffer_ring.h"
#include "records/output_channel.h"
#include "records/status.h"

namespace records {

// A section of `records` records of at most `record_length` characters
// each (the terminator not counted), known by its name. `render` appends
// the records of 0-based numbers first..end-1 to the chunk, in order; it
// must be a pure rendering: no channel, no allocation, no ending.
struct RecordSection {
  std::string_view name;
  std::int64_t records = 0;
  std::size_t record_length = 0;
  std::function<void(format::RecordChunk& chunk, std::int64_t first, std::int64_t end)> render;
};

class RenderAhead {
 public:
  // Bytes of one chunk, and the chunks in flight: a few, so that neither
  // thread waits on the other's jitter, and small, so that they stay in the
  // caches and cost little memory.
  static constexpr std::size_t CHUNK_BYTES = std::size_t{512} << 10;
  static constexpr std::size_t CHUNKS = 4;

  RenderAhead() = default;
  RenderAhead(const RenderAhead&) = delete;
  RenderAhead& operator=(const RenderAhead&) = delete;
  // Stops the worker, whether or not every section was written.
  ~RenderAhead() = default;

  // Takes the chunks and starts the worker on the sections, rendered in the
  // order given; false when the system refuses the memory. A refused thread
  // leaves the rendering to the writing thread. Sections without records
  // need neither: start then only keeps the list.
  [[nodiscard]] bool start(std::vector<RecordSection> sections);

  // Writes the records of the section of that name on the channel, after
  // the records pending there, and returns the channel's status. The
  // sections are rendered in the order given to start, so they must be
  // written in that order: asking for another is a fault of the program,
  // which stops the process.
  [[nodiscard]] Status write_section(std::string_view name, OutputChannel& channel);

 private:
  static std::int64_t records_per_chunk(const RecordSection& section);
  // The worker's job: renders the next chunk, in section order; false when
  // every section is rendered.
  bool render_next(BufferRing::Buffer& chunk);

  std::vector<RecordSection> sections_;
  std::size_t next_written_ = 0;     // the next section to write
  std::size_t rendering_ = 0;        // the worker's section
  std::int64_t rendered_up_to_ = 0;  // and its next record
  // Declared last: destroyed first, it stops the worker before the
  // sections it renders go.
  BufferRing chunks_{CHUNK_BYTES, CHUNKS};
};

}  // namespace records
