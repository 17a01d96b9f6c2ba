// The model check's end of the facet stream: keeps every facet the
// converter's scan stores, and counts what the records show that the
// converter itself never notices.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "reading/facet_stream.h"
#include "reading/facet_text.h"

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
  // Of those, the lines with a tab in the columns read, which explains the
  // empty token: the converter splits on blanks only.
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

class FacetCollector final : public reading::FacetDestination {
 public:
  // `expected_facets` sizes the tables up front (their pages are taken as
  // they fill); when the system refuses that much, they start small and
  // grow as they fill.
  explicit FacetCollector(std::size_t expected_facets);

  // Called on the stream's worker. Memory that runs out there is noted,
  // not thrown: see out_of_memory().
  void store_facet(const reading::FacetText& text, const geometry::Triangle& corners,
                   const std::array<int, 3>& empty_coordinates) override;
  void skipped_line(const reading::SkippedLine& line) override;

  // True when a facet could not be kept for want of memory; the tables
  // then hold fewer facets than the scan stored.
  bool out_of_memory() const { return out_of_memory_; }
  const std::vector<geometry::Triangle>& facets() const { return facets_; }
  std::vector<geometry::Triangle> take_facets() { return std::move(facets_); }
  // Per stored facet, the 1-based number of its facet line.
  std::vector<std::int64_t> take_facet_lines() { return std::move(facet_lines_); }
  const LineFacts& line_facts() const { return line_facts_; }

 private:
  std::vector<geometry::Triangle> facets_;
  std::vector<std::int64_t> facet_lines_;
  LineFacts line_facts_;
  bool out_of_memory_ = false;
};

}  // namespace check
