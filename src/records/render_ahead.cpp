#include "records/render_ahead.h"

#include <algorithm>
#include <cstdlib>

namespace records {

std::int64_t RenderAhead::records_per_chunk(const RecordSection& section) {
  return static_cast<std::int64_t>(CHUNK_BYTES /
                                   (section.record_length + RECORD_TERMINATOR.size()));
}

bool RenderAhead::start(std::vector<RecordSection> sections) {
  sections_ = std::move(sections);
  const bool any_records = std::any_of(sections_.begin(), sections_.end(),
                                       [](const RecordSection& s) { return s.records > 0; });
  if (!any_records) return true;
  if (!chunks_.reserve()) return false;
  chunks_.start(BufferRing::WorkerRole::fills,
                [this](BufferRing::Buffer& chunk, std::uint64_t) { return render_next(chunk); });
  return true;
}

bool RenderAhead::render_next(BufferRing::Buffer& chunk) {
  while (rendering_ < sections_.size() && rendered_up_to_ >= sections_[rendering_].records) {
    ++rendering_;
    rendered_up_to_ = 0;
  }
  if (rendering_ == sections_.size()) return false;
  const RecordSection& section = sections_[rendering_];
  const std::int64_t end = std::min(rendered_up_to_ + records_per_chunk(section), section.records);
  format::RecordChunk records(chunk.bytes.get(), CHUNK_BYTES);
  section.render(records, rendered_up_to_, end);
  chunk.size = records.text().size();
  rendered_up_to_ = end;
  return true;
}

Status RenderAhead::write_section(std::string_view name, OutputChannel& channel) {
  if (next_written_ == sections_.size() || sections_[next_written_].name != name) std::abort();
  const RecordSection& section = sections_[next_written_++];
  const std::int64_t per_chunk = records_per_chunk(section);
  for (std::int64_t first = 0; first < section.records; first += per_chunk) {
    const BufferRing::Buffer* chunk = chunks_.take();
    // Every chunk of the section is rendered before the worker ends.
    if (chunk == nullptr) std::abort();
    const Status written = channel.write_records({chunk->bytes.get(), chunk->size});
    chunks_.give_back();
    if (!written.ok()) return written;
  }
  return channel.status();
}

}  // namespace records
