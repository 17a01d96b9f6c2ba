// Rendering ahead: the long record sections of the output files (one record
// per node or element) are rendered in chunks of memory on two threads, the
// writing thread and a worker, and each chunk is written by the thread that
// rendered it, while it is still in that core's cache: the copy into the
// page cache, the largest cost of a large run after the rendering itself,
// then reads from the cache instead of memory.
//
// The chunks of all sections are numbered in file order, 0, 1, 2, ...; the
// writing thread renders and writes the even ones, the worker the odd ones.
// The two take turns at the channels in that order: a chunk is written only
// once the one before it has been, so the files receive the same bytes in
// the same order as when every record is rendered in place, and only one
// thread writes on a channel at any moment. While one thread writes, the
// other renders its next chunk.
//
// The worker writes a chunk of a section only once the writing thread has
// reached that section (and written what goes before it), and the writing
// thread leaves a section only once every chunk of it is written, so the
// records written between sections stay where they belong. The worker
// takes no memory and ends nothing: a refused write is kept by its channel
// and the worker stops; the writing thread returns the channel's status.
// Destroying the renderer stops the worker wherever it is. When the system
// refuses the thread, the writing thread renders and writes every chunk
// itself: the same chunks, so the same bytes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "format/record_chunk.h"
#include "io/worker_thread.h"
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
  // Bytes of one chunk: small enough to stay in a core's second-level cache
  // (1 MiB on the machines measured) between its rendering and its writing,
  // large enough that a write's fixed cost is nothing next to its copy.
  static constexpr std::size_t CHUNK_BYTES = std::size_t{512} << 10;

  RenderAhead() = default;
  RenderAhead(const RenderAhead&) = delete;
  RenderAhead& operator=(const RenderAhead&) = delete;
  // Stops the worker, whether or not every section was written.
  ~RenderAhead();

  // Takes the two chunks and starts the worker on the sections, rendered
  // and written in the order given; false when the system refuses the
  // memory. A refused thread leaves every chunk to the writing thread.
  // Sections without records need neither: start then only keeps the list.
  [[nodiscard]] bool start(std::vector<RecordSection> sections);

  // Writes the records of the section of that name on the channel, after
  // the records pending there, and returns the channel's status. The
  // sections are written in the order given to start: asking for another
  // is a fault of the program, which stops the process.
  [[nodiscard]] Status write_section(std::string_view name, OutputChannel& channel);

 private:
  // Where chunk number `chunk` (counted over all sections) lies: its
  // section and records first..end-1 of it.
  struct ChunkPlace {
    std::size_t section = 0;
    std::int64_t first = 0;
    std::int64_t end = 0;
  };
  ChunkPlace place_of(std::uint64_t chunk, std::size_t from_section) const;
  static std::int64_t records_per_chunk(const RecordSection& section);
  // Renders the chunk into bytes (CHUNK_BYTES of them); its size.
  std::size_t render(const ChunkPlace& place, char* bytes) const;
  // Waits for the chunk's turn and writes it on the channel of its
  // section; false when the turn never comes (a write failed, or the
  // renderer stops) or the write is refused.
  bool write_in_turn(std::uint64_t chunk, std::size_t section, std::string_view bytes);
  // The worker: renders and writes the odd chunks.
  void write_odd_chunks();

  std::vector<RecordSection> sections_;
  std::vector<std::uint64_t> chunks_before_;  // per section, then the total
  std::size_t next_written_ = 0;              // the next section to write
  std::unique_ptr<char[]> own_chunk_;         // the writing thread's
  std::unique_ptr<char[]> worker_chunk_;
  bool in_place_ = false;  // no worker: the writing thread does every chunk

  std::mutex mutex_;
  std::condition_variable turn_;          // a chunk was written, a section reached, or the end
  std::uint64_t written_ = 0;             // chunks written, in order: the next one's turn
  std::vector<OutputChannel*> channels_;  // per section, once the writing thread reaches it
  std::size_t sections_reached_ = 0;
  // The channel that refused a write: no chunk is written after it.
  OutputChannel* failed_on_ = nullptr;
  bool stopping_ = false;
  // Declared last: destroyed first, it waits for the worker before the
  // state it uses goes.
  io::WorkerThread worker_;
};

}  // namespace records
