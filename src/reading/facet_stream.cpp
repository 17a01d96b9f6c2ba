#include "reading/facet_stream.h"

#include <cstring>
#include <new>

#include "reading/vertex_line.h"

namespace reading {

namespace {

void empty(FacetTextBatch& batch) {
  batch.facets = 0;
  batch.skipped = 0;
  batch.cut_facet_vertices = 0;
}

}  // namespace

bool FacetStream::start() {
  facets_begun_ = 0;
  facets_stored_ = 0;
  failed_ = false;
  failed_line_ = 0;
  failed_token_length_ = 0;
  if (batch_ == nullptr) batch_.reset(new (std::nothrow) FacetTextBatch);
  if (batch_ == nullptr) return false;
  empty(*batch_);
  return true;
}

FacetText* FacetStream::begin_facet(std::int64_t facet_line) {
  if (facets_begun_ == facet_limit_) return nullptr;
  if (batch_->facets == FacetTextBatch::FACETS && !hand_over()) return nullptr;
  ++facets_begun_;
  FacetText* const facet = &batch_->facet[batch_->facets];
  facet->facet_line = facet_line;
  return facet;
}

bool FacetStream::note_skipped_line(std::int64_t line_number, SkippedKind kind) {
  if (batch_->skipped == FacetTextBatch::SKIPPED && !hand_over()) return false;
  batch_->skipped_line[batch_->skipped++] = {line_number, kind};
  return true;
}

bool FacetStream::hand_over() {
  deliver_unless_failed(*batch_);
  empty(*batch_);
  return !failed_;
}

void FacetStream::deliver_unless_failed(const FacetTextBatch& batch) {
  if (!failed_ && !deliver(batch)) failed_ = true;
}

bool FacetStream::convert(const FacetText& facet, std::size_t count, geometry::Triangle& corners,
                          std::array<int, 3>& empty_coordinates) {
  for (std::size_t corner = 0; corner < count; ++corner) {
    std::string_view bad_token;
    empty_coordinates[corner] = 0;
    if (!read_corner(facet.vertices[corner].text(), corners[corner], bad_token,
                     empty_coordinates[corner])) {
      failed_line_ = facet.vertex_line(corner);
      failed_token_length_ = bad_token.size();
      std::memcpy(failed_token_.data(), bad_token.data(), bad_token.size());
      return false;
    }
  }
  return true;
}

bool FacetStream::deliver(const FacetTextBatch& batch) {
  geometry::Triangle corners;
  std::array<int, 3> empty_coordinates{};
  std::size_t skipped = 0;
  for (std::size_t f = 0; f < batch.facets; ++f) {
    const FacetText& facet = batch.facet[f];
    while (skipped < batch.skipped && batch.skipped_line[skipped].line_number < facet.facet_line) {
      destination_.skipped_line(batch.skipped_line[skipped++]);
    }
    if (!convert(facet, 3, corners, empty_coordinates)) return false;
    destination_.store_facet(facet, corners, empty_coordinates);
    ++facets_stored_;
  }
  while (skipped < batch.skipped) destination_.skipped_line(batch.skipped_line[skipped++]);
  // The scan ended inside a facet after some of its vertex lines; as a
  // scan that converts as it reads would, they are converted before that
  // ending counts.
  if (batch.cut_facet_vertices == 0) return true;
  return convert(batch.facet[batch.facets], batch.cut_facet_vertices, corners, empty_coordinates);
}

ScanOutcome FacetStream::finish(const ScanOutcome& scanned) {
  if (batch_ == nullptr) return scanned;  // never started
  deliver_unless_failed(*batch_);
  empty(*batch_);
  if (!failed_) return scanned;
  ScanOutcome outcome;
  outcome.end = ScanEnd::invalid_coordinate;
  outcome.facets = facets_stored_;
  outcome.line_number = failed_line_;
  outcome.token.assign(failed_token_.data(), failed_token_length_);
  return outcome;
}

}  // namespace reading
