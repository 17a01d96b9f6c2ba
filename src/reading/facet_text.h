// What the scanner takes from an STL file: per facet, the text of its
// three vertex lines as the coordinates are read from it, and per
// non-blank line it skips between facets, what kind of line it is. The
// records hold a fixed number of characters, so a line of any length costs
// the same; they travel in batches from the scanner to the conversion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The facets read are handed over as the geometry's triangles (corners in
// file order), which every later step measures and cuts.
#include "geometry/triangle.h"

namespace reading {

inline constexpr std::string_view FACET_MARKER = "  facet ";
// A vertex line is read up to this column; nothing after it is seen.
inline constexpr std::size_t VERTEX_LINE_LENGTH = 80;

// A vertex line: its first 80 columns, and whether it goes on beyond them
// with anything but blanks (text the conversion never sees).
struct VertexText {
  std::array<char, VERTEX_LINE_LENGTH> columns;
  std::uint8_t length;  // columns in use: the line's length, at most 80
  bool text_beyond;

  std::string_view text() const { return {columns.data(), length}; }
};

// A facet as read: the 1-based number of its facet line (its vertex lines
// are always the 2nd, 3rd and 4th lines after it) and its vertex lines.
struct FacetText {
  std::int64_t facet_line;
  std::array<VertexText, 3> vertices;

  std::int64_t vertex_line(std::size_t corner) const {
    return facet_line + 2 + static_cast<std::int64_t>(corner);
  }
};

// A line between facets that is not a facet line and holds more than
// blanks, tabs and carriage returns: blank lines are not recorded.
enum class SkippedKind : std::uint8_t {
  facet_word,     // begins, after blanks and tabs, with "facet" in any letter case
  endsolid_word,  // begins, after blanks and tabs, with "endsolid" in any letter case
  other_text,
};

struct SkippedLine {
  std::int64_t line_number;  // 1-based
  SkippedKind kind;
};

// The kind of a skipped line from the first characters after its leading
// blanks and tabs.
SkippedKind skipped_kind(std::string_view first_word);

// One batch of records, in file order within each table: the skipped lines
// fall between the facets by their line numbers. Only the first `facets`
// and `skipped` entries are ever read.
struct FacetTextBatch {
  // About 256 KiB, taken once for a scan.
  static constexpr std::size_t FACETS = 1000;
  static constexpr std::size_t SKIPPED = 256;

  std::uint32_t facets;
  std::uint32_t skipped;
  // The vertex lines read of a facet the scan ended in (0 to 3): that facet
  // is facet[facets], and only the last batch of a scan may have one.
  std::uint32_t cut_facet_vertices;
  std::array<FacetText, FACETS> facet;
  std::array<SkippedLine, SKIPPED> skipped_line;
};

}  // namespace reading
