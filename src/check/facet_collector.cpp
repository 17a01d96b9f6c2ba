#include "check/facet_collector.h"

#include <algorithm>

namespace check {

bool begins_with_facet_word(std::string_view line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return false;
  constexpr std::string_view WORD = "facet";
  const std::string_view rest = line.substr(start);
  if (rest.size() < WORD.size()) return false;
  return std::equal(WORD.begin(), WORD.end(), rest.begin(),
                    [](char lower, char c) { return lower == (c | 0x20); });
}

bool runs_past_vertex_columns(std::string_view line) {
  return line.size() > reading::VERTEX_LINE_LENGTH &&
         line.find_first_not_of(' ', reading::VERTEX_LINE_LENGTH) != std::string_view::npos;
}

FacetCollector::FacetCollector(std::size_t expected_facets, std::int32_t facet_limit)
    : facet_limit_(facet_limit) {
  facets_.reserve(std::min(expected_facets, static_cast<std::size_t>(facet_limit)));
}

bool FacetCollector::begin_facet() {
  pending_long_lines_ = 0;
  pending_incomplete_lines_ = 0;
  if (facets_begun_ == facet_limit_) return false;
  ++facets_begun_;
  return true;
}

void FacetCollector::store_facet(const reading::FacetCorners& corners) {
  facets_.push_back(corners);
  line_facts_.long_vertex_lines += pending_long_lines_;
  line_facts_.incomplete_vertex_lines += pending_incomplete_lines_;
}

void FacetCollector::skipped_line(std::int64_t, std::string_view line) {
  if (begins_with_facet_word(line)) ++line_facts_.skipped_facet_lines;
}

void FacetCollector::vertex_line(std::int64_t, std::string_view line, int empty_coordinates) {
  if (runs_past_vertex_columns(line)) ++pending_long_lines_;
  if (empty_coordinates > 0) ++pending_incomplete_lines_;
}

}  // namespace check
