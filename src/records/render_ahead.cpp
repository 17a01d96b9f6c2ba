#include "records/render_ahead.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace records {

RenderAhead::~RenderAhead() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  turn_.notify_all();
  worker_.join();
}

std::int64_t RenderAhead::records_per_chunk(const RecordSection& section) {
  return static_cast<std::int64_t>(CHUNK_BYTES /
                                   (section.record_length + RECORD_TERMINATOR.size()));
}

bool RenderAhead::start(std::vector<RecordSection> sections) {
  sections_ = std::move(sections);
  chunks_before_.assign(1, 0);
  for (const RecordSection& section : sections_) {
    const std::int64_t per_chunk = records_per_chunk(section);
    const auto chunks = static_cast<std::uint64_t>((section.records + per_chunk - 1) / per_chunk);
    chunks_before_.push_back(chunks_before_.back() + chunks);
  }
  channels_.assign(sections_.size(), nullptr);
  if (chunks_before_.back() == 0) return true;
  own_chunk_.reset(new (std::nothrow) char[CHUNK_BYTES]);
  worker_chunk_.reset(new (std::nothrow) char[CHUNK_BYTES]);
  if (!own_chunk_ || !worker_chunk_) return false;
  in_place_ = !worker_.start([this] { write_odd_chunks(); });
  return true;
}

RenderAhead::ChunkPlace RenderAhead::place_of(std::uint64_t chunk, std::size_t from_section) const {
  std::size_t section = from_section;
  while (chunks_before_[section + 1] <= chunk) ++section;
  const std::int64_t per_chunk = records_per_chunk(sections_[section]);
  const auto first = static_cast<std::int64_t>(chunk - chunks_before_[section]) * per_chunk;
  return {section, first, std::min(first + per_chunk, sections_[section].records)};
}

std::size_t RenderAhead::render(const ChunkPlace& place, char* bytes) const {
  format::RecordChunk records(bytes, CHUNK_BYTES);
  sections_[place.section].render(records, place.first, place.end);
  return records.text().size();
}

bool RenderAhead::write_in_turn(std::uint64_t chunk, std::size_t section, std::string_view bytes) {
  OutputChannel* channel = nullptr;
  {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] {
      return stopping_ || failed_on_ != nullptr ||
             (written_ == chunk && sections_reached_ > section);
    });
    if (stopping_ || failed_on_ != nullptr) return false;
    channel = channels_[section];
  }
  // The channel is this thread's alone until the turn passes on: the other
  // thread writes only once `written_` counts this chunk.
  const bool written = channel->write_records(bytes);
  {
    const std::lock_guard lock(mutex_);
    if (written) {
      written_ = chunk + 1;
    } else {
      failed_on_ = channel;
    }
  }
  turn_.notify_all();
  return written;
}

void RenderAhead::write_odd_chunks() {
  std::size_t section = 0;
  for (std::uint64_t chunk = 1; chunk < chunks_before_.back(); chunk += 2) {
    const ChunkPlace place = place_of(chunk, section);
    section = place.section;
    // The chunk is the worker's alone: only it renders and writes it.
    const std::size_t size = render(place, worker_chunk_.get());
    if (!write_in_turn(chunk, section, {worker_chunk_.get(), size})) return;
  }
}

Status RenderAhead::write_section(std::string_view name, OutputChannel& channel) {
  if (next_written_ == sections_.size() || sections_[next_written_].name != name) std::abort();
  const std::size_t section = next_written_++;
  const std::uint64_t first_chunk = chunks_before_[section];
  const std::uint64_t end_chunk = chunks_before_[section + 1];
  if (first_chunk == end_chunk) return channel.status();
  // The records pending on the channel go before the section's; the worker
  // may write on the channel from here on, in its turns. After a refused
  // write nothing more is written, on any channel.
  std::unique_lock lock(mutex_);
  if (failed_on_ == nullptr) {
    lock.unlock();
    const bool flushed = channel.flush().ok();
    lock.lock();
    if (flushed) {
      channels_[section] = &channel;
      sections_reached_ = section + 1;
    } else {
      failed_on_ = &channel;
    }
  }
  if (failed_on_ != nullptr) return failed_on_->status();
  lock.unlock();
  turn_.notify_all();

  const std::uint64_t step = in_place_ ? 1 : 2;
  const std::uint64_t first_own = in_place_ ? first_chunk : first_chunk + first_chunk % 2;
  for (std::uint64_t chunk = first_own; chunk < end_chunk; chunk += step) {
    const std::size_t size = render(place_of(chunk, section), own_chunk_.get());
    if (!write_in_turn(chunk, section, {own_chunk_.get(), size})) break;
  }
  // The section ends when the worker's last chunk of it is written too.
  lock.lock();
  turn_.wait(lock, [&] { return failed_on_ != nullptr || written_ == end_chunk; });
  return failed_on_ != nullptr ? failed_on_->status() : channel.status();
}

}  // namespace records
