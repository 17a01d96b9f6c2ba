// Rendering ahead: the long record sections of the output files (one record
// per node or element) are rendered on a worker thread into chunks of
// memory, while the thread that writes hands the finished chunks to their
// channels, in order. The files receive the same bytes in the same order as
// when every record is rendered in place; the rendering only moves to the
// second core.
//
// Only the writing thread touches a channel and only it can end the run (a
// refused write ends it there, with the channel's report). The worker
// renders into chunks nobody else touches until it hands them over, takes
// no memory and never ends the run: when the writing thread ends the run,
// the worker ends with the process. When the system refuses the thread, the
// writing thread renders each chunk itself just before writing it: the same
// chunks, so the same bytes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "records/output_channel.h"
#include "records/worker_thread.h"

namespace records {

// A chunk of whole records in memory, each with its record terminator: a
// destination for write_layout. Its owner renders no more records into it
// than fit.
class RecordChunk {
 public:
  RecordChunk(char* bytes, std::size_t capacity) : bytes_(bytes), capacity_(capacity) {}

  char* record_space(std::size_t /*max_length*/) { return bytes_ + size_; }
  void end_record(std::size_t length) {
    bytes_[size_ + length] = RECORD_TERMINATOR[0];
    bytes_[size_ + length + 1] = RECORD_TERMINATOR[1];
    size_ += length + RECORD_TERMINATOR.size();
  }

  std::size_t capacity() const { return capacity_; }
  std::string_view text() const { return {bytes_, size_}; }

 private:
  char* bytes_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

// A section of `records` records of at most `record_length` characters
// each (the terminator not counted). `render` appends the records of
// 0-based numbers first..end-1 to the chunk, in order; it must be a pure
// rendering: no channel, no allocation, no ending.
struct RecordSection {
  std::int64_t records = 0;
  std::size_t record_length = 0;
  std::function<void(RecordChunk& chunk, std::int64_t first, std::int64_t end)> render;
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
  ~RenderAhead();

  // Takes the chunks and starts the worker on the sections, in the order
  // given; false when the system refuses the memory. A refused thread leaves
  // the rendering to the writing thread. Sections without records need
  // neither: start then only keeps the list.
  [[nodiscard]] bool start(std::vector<RecordSection> sections);

  // Writes the records of the next section on the channel, after the
  // records pending there. A refused write ends the run with the channel's
  // report.
  void write_next_section(OutputChannel& channel);

 private:
  struct Slot {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };

  static std::int64_t records_per_chunk(const RecordSection& section);
  // Renders records first..end-1 of a section into a slot.
  static void render_chunk(const RecordSection& section, std::int64_t first, Slot& slot);
  void render_all();

  std::vector<RecordSection> sections_;
  std::size_t next_section_ = 0;  // the next one to write
  Slot slots_[CHUNKS];
  std::mutex mutex_;
  std::condition_variable rendered_;  // a chunk is ready for writing
  std::condition_variable written_;   // a chunk is free for rendering
  std::uint64_t chunks_rendered_ = 0;
  std::uint64_t chunks_written_ = 0;
  // No worker: each chunk is rendered by the writing thread.
  bool in_place_ = false;
  WorkerThread worker_;
};

}  // namespace records
