// The model check's facet sink: keeps every facet the converter's scan
// hands over, and counts what the line events show that the converter
// itself never notices.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "reading/stl_scanner.h"

namespace check {

// Up to this many line numbers of each kind are kept, in file order.
inline constexpr std::size_t LINES_KEPT = 10;

struct LineFacts {
  // Lines skipped as "not a facet line" that still begin with the word
  // facet (any letter case) after leading blanks and tabs: facets written
  // in a style the converter does not read.
  std::int64_t skipped_facet_lines = 0;
  // Vertex lines of stored facets with a non-blank character after column
  // 80, which the converter does not see.
  std::int64_t long_vertex_lines = 0;
  // Vertex lines of stored facets in which x, y or z is an empty token
  // (read as 0.0).
  std::int64_t incomplete_vertex_lines = 0;
  // Of those, the lines with a tab, which explains the empty token: the
  // converter splits on blanks only.
  std::int64_t tabbed_vertex_lines = 0;
  // The 1-based numbers of the first LINES_KEPT lines of each kind above.
  std::vector<std::int64_t> skipped_facet_line_numbers;
  std::vector<std::int64_t> long_vertex_line_numbers;
  std::vector<std::int64_t> incomplete_vertex_line_numbers;
  // Whether the last non-blank line after the last stored facet begins
  // with "endsolid" (after blanks or tabs, any letter case); true when no
  // facet was stored and the file's last non-blank line does.
  bool ends_with_endsolid = false;
};

// True for a line that, after leading blanks and tabs, begins with
// "endsolid" in any letter case.
bool begins_with_endsolid(std::string_view line);

// True for a line that, after leading blanks and tabs, begins with "facet"
// in any letter case.
bool begins_with_facet_word(std::string_view line);

// True for a vertex line with a character other than a blank after
// column 80.
bool runs_past_vertex_columns(std::string_view line);

class FacetCollector {
 public:
  // The line events carry whole lines, so that text after column 80 shows.
  static constexpr bool WHOLE_LINES = true;

  // `expected_facets` only sizes the table up front (its pages are taken as
  // it fills); `facet_limit` is the converter's: one more is refused.
  FacetCollector(std::size_t expected_facets, std::int32_t facet_limit);

  bool begin_facet();
  void store_facet(const reading::FacetCorners& corners);
  void skipped_line(std::int64_t line_number, std::string_view line);
  void vertex_line(std::int64_t line_number, std::string_view line, int empty_coordinates);

  const std::vector<reading::FacetCorners>& facets() const { return facets_; }
  std::vector<reading::FacetCorners> take_facets() { return std::move(facets_); }
  // Per stored facet, the 1-based number of its facet line.
  std::vector<std::int64_t> take_facet_lines() { return std::move(facet_lines_); }
  const LineFacts& line_facts() const { return line_facts_; }

 private:
  std::vector<reading::FacetCorners> facets_;
  std::vector<std::int64_t> facet_lines_;
  std::int32_t facet_limit_;
  std::int32_t facets_begun_ = 0;
  LineFacts line_facts_;
  // Vertex line events come before their facet is whole; they count only
  // once it is stored.
  std::array<std::int64_t, 3> pending_long_lines_{};        // line numbers; 0 for none
  std::array<std::int64_t, 3> pending_incomplete_lines_{};  // line numbers; 0 for none
  std::int64_t pending_tabbed_lines_ = 0;
  std::size_t pending_vertex_lines_ = 0;
  std::int64_t pending_facet_line_ = 0;
};

static_assert(reading::FacetSink<FacetCollector>);

}  // namespace check
