#include "check/facet_collector.h"

#include <new>
#include <string_view>

#include "geometry/large_table.h"

namespace check {

namespace {

// The facets a model of 4 MiB or so holds: where the tables start when
// the room for the largest count the file could hold is refused.
constexpr std::size_t SMALL_START = std::size_t{1} << 16;

void keep_line(std::vector<std::int64_t>& kept, std::int64_t line_number) {
  if (kept.size() < LINES_KEPT) kept.push_back(line_number);
}

}  // namespace

FacetCollector::FacetCollector(std::size_t expected_facets) {
  // Taken here, so that keeping a line number takes no memory on the worker.
  line_facts_.skipped_facet_line_numbers.reserve(LINES_KEPT);
  line_facts_.long_vertex_line_numbers.reserve(LINES_KEPT);
  line_facts_.incomplete_vertex_line_numbers.reserve(LINES_KEPT);
  try {
    geometry::reserve_large(facets_, expected_facets);
    geometry::reserve_large(facet_lines_, expected_facets);
  } catch (const std::bad_alloc&) {
    // Under a limit on the address space the largest count a file of its
    // size could hold may not fit where the facets it does hold would.
    std::vector<geometry::Triangle>().swap(facets_);
    std::vector<std::int64_t>().swap(facet_lines_);
    facets_.reserve(SMALL_START);
    facet_lines_.reserve(SMALL_START);
  }
}

void FacetCollector::store_facet(const reading::FacetText& text, const geometry::Triangle& corners,
                                 const std::array<int, 3>& empty_coordinates) {
  if (out_of_memory_) return;
  try {
    facets_.push_back(corners);
    facet_lines_.push_back(text.facet_line);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return;
  }
  for (std::size_t corner = 0; corner < text.vertices.size(); ++corner) {
    const reading::VertexText& vertex = text.vertices[corner];
    const std::int64_t line_number = text.vertex_line(corner);
    if (vertex.text_beyond) {
      ++line_facts_.long_vertex_lines;
      keep_line(line_facts_.long_vertex_line_numbers, line_number);
    }
    if (empty_coordinates[corner] > 0) {
      ++line_facts_.incomplete_vertex_lines;
      keep_line(line_facts_.incomplete_vertex_line_numbers, line_number);
      if (vertex.text().find('\t') != std::string_view::npos) ++line_facts_.tabbed_vertex_lines;
    }
  }
  line_facts_.ends_with_endsolid = false;
}

void FacetCollector::skipped_line(const reading::SkippedLine& line) {
  if (line.kind == reading::SkippedKind::facet_word) {
    ++line_facts_.skipped_facet_lines;
    keep_line(line_facts_.skipped_facet_line_numbers, line.line_number);
  }
  line_facts_.ends_with_endsolid = line.kind == reading::SkippedKind::endsolid_word;
}

}  // namespace check
