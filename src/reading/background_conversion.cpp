#include "reading/background_conversion.h"

namespace reading {

bool BackgroundConversion::start() {
  if (!batches_.reserve()) return false;
  batch_ = batches_.filling().bytes.get();
  batches_.start(records::BufferRing::WorkerRole::empties,
                 [this](records::BufferRing::Buffer& batch, std::uint64_t) {
                   // After a failure the batches are only given back.
                   if (!failed_.load(std::memory_order_relaxed) && !convert(batch)) {
                     failed_.store(true, std::memory_order_relaxed);
                   }
                   return true;
                 });
  return true;
}

bool BackgroundConversion::begin_facet() {
  texts_in_facet_ = 0;
  cursor_ = filled_;
  if (!store_.begin_facet()) return false;
  if (BATCH_BYTES - filled_ < MOST_PER_FACET && !hand_over()) return false;
  facet_start_ = filled_;
  cursor_ = filled_ + sizeof(std::int64_t);
  return true;
}

bool BackgroundConversion::hand_over() {
  batches_.filling().size = filled_;
  batches_.hand_over();
  batch_ = batches_.filling().bytes.get();
  filled_ = 0;
  return !failed_.load(std::memory_order_relaxed);
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

bool BackgroundConversion::convert(const records::BufferRing::Buffer& batch) {
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
  if (batch_ == nullptr) return scanned;  // never started
  // The facets read whole go to the worker; the vertex lines of a facet the
  // scan ended in stay in the batch, after them.
  batches_.filling().size = filled_;
  batches_.finish();
  bool failed = failed_.load(std::memory_order_relaxed);
  if (!failed && texts_in_facet_ > 0) {
    // The scan ended inside a facet after some of its vertex lines; as the
    // scanner would have, they are converted before that ending counts.
    const char* entry = batch_ + facet_start_;
    FacetCorners corners;
    failed = !convert_facet(entry, texts_in_facet_, corners);
  }
  if (!failed) return scanned;
  ScanOutcome outcome;
  outcome.end = ScanEnd::invalid_coordinate;
  outcome.facets = facets_stored_;
  outcome.line_number = failed_line_;
  outcome.token.assign(failed_token_.data(), failed_token_length_);
  return outcome;
}

}  // namespace reading
