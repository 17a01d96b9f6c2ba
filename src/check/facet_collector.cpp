#include "check/facet_collector.h"

#include <algorithm>

#include "geometry/large_table.h"

namespace check {

namespace {

// True when `line`, after leading blanks and tabs, begins with `word`
// (lower case) in any letter case.
bool begins_with_word(std::string_view line, std::string_view word) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return false;
  const std::string_view rest = line.substr(start);
  if (rest.size() < word.size()) return false;
  return std::equal(word.begin(), word.end(), rest.begin(),
                    [](char lower, char c) { return lower == (c | 0x20); });
}

void keep_line(std::vector<std::int64_t>& kept, std::int64_t line_number) {
  if (kept.size() < LINES_KEPT) kept.push_back(line_number);
}

}  // namespace

bool begins_with_facet_word(std::string_view line) { return begins_with_word(line, "facet"); }

bool begins_with_endsolid(std::string_view line) { return begins_with_word(line, "endsolid"); }

bool runs_past_vertex_columns(std::string_view line) {
  return line.size() > reading::VERTEX_LINE_LENGTH &&
         line.find_first_not_of(' ', reading::VERTEX_LINE_LENGTH) != std::string_view::npos;
}

FacetCollector::FacetCollector(std::size_t expected_facets, std::int32_t facet_limit)
    : facet_limit_(facet_limit) {
  const std::size_t expected = std::min(expected_facets, static_cast<std::size_t>(facet_limit));
  geometry::reserve_large(facets_, expected);
  geometry::reserve_large(facet_lines_, expected);
}

bool FacetCollector::begin_facet() {
  pending_long_lines_ = {};
  pending_incomplete_lines_ = {};
  pending_tabbed_lines_ = 0;
  pending_vertex_lines_ = 0;
  pending_facet_line_ = 0;
  if (facets_begun_ == facet_limit_) return false;
  ++facets_begun_;
  return true;
}

void FacetCollector::store_facet(const reading::FacetCorners& corners) {
  facets_.push_back(corners);
  facet_lines_.push_back(pending_facet_line_);
  for (const std::int64_t line_number : pending_long_lines_) {
    if (line_number == 0) continue;
    ++line_facts_.long_vertex_lines;
    keep_line(line_facts_.long_vertex_line_numbers, line_number);
  }
  for (const std::int64_t line_number : pending_incomplete_lines_) {
    if (line_number == 0) continue;
    ++line_facts_.incomplete_vertex_lines;
    keep_line(line_facts_.incomplete_vertex_line_numbers, line_number);
  }
  line_facts_.tabbed_vertex_lines += pending_tabbed_lines_;
  line_facts_.ends_with_endsolid = false;
}

void FacetCollector::skipped_line(std::int64_t line_number, std::string_view line) {
  if (begins_with_facet_word(line)) {
    ++line_facts_.skipped_facet_lines;
    keep_line(line_facts_.skipped_facet_line_numbers, line_number);
  }
  // A line end may leave a carriage return behind.
  if (line.find_first_not_of(" \t\r") != std::string_view::npos) {
    line_facts_.ends_with_endsolid = begins_with_endsolid(line);
  }
}

void FacetCollector::vertex_line(std::int64_t line_number, std::string_view line,
                                 int empty_coordinates) {
  // The facet line comes two lines before the first vertex line (the
  // scanner takes the facet's lines by position).
  if (pending_vertex_lines_ == 0) pending_facet_line_ = line_number - 2;
  if (pending_vertex_lines_ < 3) {
    if (runs_past_vertex_columns(line)) pending_long_lines_[pending_vertex_lines_] = line_number;
    if (empty_coordinates > 0) {
      pending_incomplete_lines_[pending_vertex_lines_] = line_number;
      if (line.find('\t') != std::string_view::npos) ++pending_tabbed_lines_;
    }
  }
  ++pending_vertex_lines_;
}

}  // namespace check
