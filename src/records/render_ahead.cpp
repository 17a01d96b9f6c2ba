#include "records/render_ahead.h"

#include <algorithm>
#include <new>

namespace records {

RenderAhead::~RenderAhead() {
  // Only reached when every section was written, or never started: the
  // worker has nothing left to render.
  if (worker_.joinable()) worker_.join();
}

std::int64_t RenderAhead::records_per_chunk(const RecordSection& section) {
  return static_cast<std::int64_t>(CHUNK_BYTES /
                                   (section.record_length + RECORD_TERMINATOR.size()));
}

bool RenderAhead::start(std::vector<RecordSection> sections) {
  sections_ = std::move(sections);
  const bool any_records = std::any_of(sections_.begin(), sections_.end(),
                                       [](const RecordSection& s) { return s.records > 0; });
  if (!any_records) return true;
  for (Slot& slot : slots_) {
    slot.bytes.reset(new (std::nothrow) char[CHUNK_BYTES]);
    if (!slot.bytes) return false;
  }
  in_place_ = !worker_.start([this] { render_all(); });
  return true;
}

void RenderAhead::render_chunk(const RecordSection& section, std::int64_t first, Slot& slot) {
  RecordChunk chunk(slot.bytes.get(), CHUNK_BYTES);
  section.render(chunk, first, std::min(first + records_per_chunk(section), section.records));
  slot.size = chunk.text().size();
}

void RenderAhead::render_all() {
  std::uint64_t rendered = 0;
  for (const RecordSection& section : sections_) {
    const std::int64_t per_chunk = records_per_chunk(section);
    for (std::int64_t first = 0; first < section.records; first += per_chunk, ++rendered) {
      {
        std::unique_lock lock(mutex_);
        written_.wait(lock, [&] { return rendered - chunks_written_ < CHUNKS; });
      }
      // The slot is the worker's alone until it is counted as rendered.
      render_chunk(section, first, slots_[rendered % CHUNKS]);
      {
        const std::lock_guard lock(mutex_);
        chunks_rendered_ = rendered + 1;
      }
      rendered_.notify_one();
    }
  }
}

void RenderAhead::write_next_section(OutputChannel& channel) {
  const RecordSection& section = sections_[next_section_++];
  const std::int64_t per_chunk = records_per_chunk(section);
  for (std::int64_t first = 0; first < section.records; first += per_chunk) {
    if (in_place_) {
      render_chunk(section, first, slots_[0]);
      channel.write_records({slots_[0].bytes.get(), slots_[0].size});
      continue;
    }
    std::uint64_t written = 0;
    {
      std::unique_lock lock(mutex_);
      rendered_.wait(lock, [&] { return chunks_rendered_ > chunks_written_; });
      written = chunks_written_;
    }
    const Slot& slot = slots_[written % CHUNKS];
    channel.write_records({slot.bytes.get(), slot.size});
    {
      const std::lock_guard lock(mutex_);
      chunks_written_ = written + 1;
    }
    written_.notify_one();
  }
  if (next_section_ == sections_.size() && worker_.joinable()) worker_.join();
}

}  // namespace records
