#include "reading/background_conversion.h"

#include <new>

namespace reading {

BackgroundConversion::~BackgroundConversion() {
  if (worker_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      scan_ended_ = true;
    }
    handed_.notify_one();
    worker_.join();
  }
}

bool BackgroundConversion::start() {
  for (Batch& batch : batches_) {
    batch.bytes.reset(new (std::nothrow) char[BATCH_BYTES]);
    if (!batch.bytes) return false;
  }
  batch_ = batches_[0].bytes.get();
  in_place_ = !worker_.start([this] { convert_all(); });
  return true;
}

bool BackgroundConversion::begin_facet() {
  texts_in_facet_ = 0;
  cursor_ = filled_;
  if (!store_.begin_facet()) return false;
  if (BATCH_BYTES - filled_ < MOST_PER_FACET && !hand_over(true)) return false;
  facet_start_ = filled_;
  cursor_ = filled_ + sizeof(std::int64_t);
  return true;
}

bool BackgroundConversion::hand_over(bool take_next) {
  if (in_place_) {
    Batch& batch = batches_[batches_handed_ % BATCHES];
    batch.size = filled_;
    // After a failure the batches are only given back, as by the worker.
    if (!failed_ && !convert(batch)) failed_ = true;
    batches_converted_ = ++batches_handed_;
    if (take_next) {
      batch_ = batches_[batches_handed_ % BATCHES].bytes.get();
      filled_ = 0;
    }
    return !failed_;
  }
  std::unique_lock lock(mutex_);
  batches_[batches_handed_ % BATCHES].size = filled_;
  ++batches_handed_;
  handed_.notify_one();
  if (take_next) {
    converted_.wait(lock, [&] { return batches_handed_ - batches_converted_ < BATCHES; });
    // Free again: the worker is done with it until it is handed over.
    batch_ = batches_[batches_handed_ % BATCHES].bytes.get();
    filled_ = 0;
  }
  return !failed_;
}

void BackgroundConversion::convert_all() {
  bool converting = true;
  for (std::uint64_t next = 0;; ++next) {
    {
      std::unique_lock lock(mutex_);
      handed_.wait(lock, [&] { return batches_handed_ > next || scan_ended_; });
      if (batches_handed_ == next) return;  // the scan has ended and all is converted
    }
    // After a failure the batches are only given back.
    if (converting && !convert(batches_[next % BATCHES])) {
      converting = false;
      const std::lock_guard lock(mutex_);
      failed_ = true;
    }
    {
      const std::lock_guard lock(mutex_);
      batches_converted_ = next + 1;
    }
    converted_.notify_one();
  }
}

bool BackgroundConversion::convert_facet(const char*& entry, int texts, FacetCorners& corners) {
  std::int64_t first_vertex_line = 0;
  std::memcpy(&first_vertex_line, entry, sizeof first_vertex_line);
  entry += sizeof first_vertex_line;
  for (int corner = 0; corner < texts; ++corner) {
    const auto length = static_cast<unsigned char>(*entry);
    const std::string_view text(entry + 1, length);
    entry += 1 + std::size_t{length};
    std::string_view bad_token;
    int empty_tokens = 0;
    if (!read_corner(text, corners[static_cast<std::size_t>(corner)], bad_token, empty_tokens)) {
      failed_line_ = first_vertex_line + corner;
      failed_token_length_ = bad_token.size();
      std::memcpy(failed_token_.data(), bad_token.data(), bad_token.size());
      return false;
    }
  }
  return true;
}

bool BackgroundConversion::convert(const Batch& batch) {
  const char* entry = batch.bytes.get();
  const char* const end = entry + batch.size;
  FacetCorners corners;
  while (entry != end) {
    if (!convert_facet(entry, 3, corners)) return false;
    store_.store_facet(corners);
    ++facets_stored_;
  }
  return true;
}

ScanOutcome BackgroundConversion::finish(const ScanOutcome& scanned) {
  if (in_place_) {
    hand_over(false);
  } else {
    if (!worker_.joinable()) return scanned;
    {
      const std::lock_guard lock(mutex_);
      batches_[batches_handed_ % BATCHES].size = filled_;
      ++batches_handed_;
      scan_ended_ = true;
    }
    handed_.notify_one();
    worker_.join();
  }
  if (!failed_ && texts_in_facet_ > 0) {
    // The scan ended inside a facet after some of its vertex lines; as the
    // scanner would have, they are converted before that ending counts.
    const char* entry = batch_ + facet_start_;
    FacetCorners corners;
    failed_ = !convert_facet(entry, texts_in_facet_, corners);
  }
  if (!failed_) return scanned;
  ScanOutcome outcome;
  outcome.end = ScanEnd::invalid_coordinate;
  outcome.facets = facets_stored_;
  outcome.line_number = failed_line_;
  outcome.token.assign(failed_token_.data(), failed_token_length_);
  return outcome;
}

}  // namespace reading
