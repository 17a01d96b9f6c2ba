#include "reading/stl_scanner.h"

#include <algorithm>
#include <cstdint>

#include "numeric/short_copy.h"

namespace reading {

namespace {

// A lead text shorter than the marker is padded with blanks, so the seven
// characters "  facet" alone open a facet too.
constexpr bool is_facet_line(std::string_view lead) {
  if (lead.size() == FACET_MARKER.size()) return lead == FACET_MARKER;
  return FACET_MARKER.starts_with(lead) &&
         FACET_MARKER.find_first_not_of(' ', lead.size()) == std::string_view::npos;
}

// True when `text` begins with `word` (lower case) in any letter case.
bool begins_with_word(std::string_view text, std::string_view word) {
  return text.size() >= word.size() &&
         std::equal(word.begin(), word.end(), text.begin(),
                    [](char lower, char c) { return lower == (c | 0x20); });
}

ScanOutcome ended(ScanEnd end, std::int32_t facets, std::int64_t line_number) {
  ScanOutcome outcome;
  outcome.end = end;
  outcome.facets = facets;
  outcome.line_number = line_number;
  return outcome;
}

// Reads one line whose content is never examined.
ScanEnd skip_line(io::LineReader& stl, std::int64_t& line_number) {
  std::string_view ignored;
  switch (stl.read_line(ignored, 0)) {
    case io::ReadOutcome::line:
      ++line_number;
      return ScanEnd::clean;
    case io::ReadOutcome::end_of_input:
      return ScanEnd::end_of_file_in_facet;
    case io::ReadOutcome::failure:
      break;
  }
  return ScanEnd::read_failure;
}

}  // namespace

SkippedKind skipped_kind(std::string_view first_word) {
  if (begins_with_word(first_word, "facet")) return SkippedKind::facet_word;
  if (begins_with_word(first_word, "endsolid")) return SkippedKind::endsolid_word;
  return SkippedKind::other_text;
}

ScanOutcome scan_stl(io::LineReader& stl, FacetStream& facets) {
  using io::ReadOutcome;
  static_assert(io::LineShape::WORD_LENGTH >= std::string_view("endsolid").size());
  std::int32_t whole_facets = 0;
  std::int64_t line_number = 0;  // of the last line read
  std::string_view line;
  io::LineShape shape;
  for (;;) {
    // Between facets the end of input ends the scan.
    switch (stl.read_line(line, FACET_MARKER.size(), shape)) {
      case ReadOutcome::line:
        break;
      case ReadOutcome::end_of_input:
        return ended(ScanEnd::clean, whole_facets, 0);
      case ReadOutcome::failure:
        return ended(ScanEnd::read_failure, whole_facets, line_number + 1);
    }
    ++line_number;
    if (!is_facet_line(line)) {
      // A refusal means a coordinate has failed, which is the scan's
      // outcome whatever this one says.
      if (shape.has_text &&
          !facets.note_skipped_line(line_number, skipped_kind(shape.first_word()))) {
        return ended(ScanEnd::too_many_facets, whole_facets, line_number);
      }
      continue;
    }
    const std::int64_t facet_line = line_number;
    FacetText* const facet = facets.begin_facet(facet_line);
    if (facet == nullptr) return ended(ScanEnd::too_many_facets, whole_facets, facet_line);

    // Inside a facet every line must be there: one skipped line, three
    // vertex lines, two skipped lines, whatever they hold.
    int vertex_lines = 0;
    const auto stopped = [&](ScanEnd end) {
      facets.cut_facet(vertex_lines);
      // A facet cut off by the end of the file is named by its facet line.
      return ended(end, whole_facets,
                   end == ScanEnd::end_of_file_in_facet ? facet_line : line_number + 1);
    };
    if (const ScanEnd end = skip_line(stl, line_number); end != ScanEnd::clean) {
      return stopped(end);
    }
    for (VertexText& vertex : facet->vertices) {
      bool text_beyond = false;
      switch (stl.read_line(line, VERTEX_LINE_LENGTH, text_beyond)) {
        case ReadOutcome::line:
          break;
        case ReadOutcome::end_of_input:
          return stopped(ScanEnd::end_of_file_in_facet);
        case ReadOutcome::failure:
          return stopped(ScanEnd::vertex_read_failure);
      }
      ++line_number;
      numeric::copy_short(vertex.columns.data(), line.data(), line.size());
      vertex.length = static_cast<std::uint8_t>(line.size());
      vertex.text_beyond = text_beyond;
      ++vertex_lines;
    }
    for (int closing = 0; closing < 2; ++closing) {
      if (const ScanEnd end = skip_line(stl, line_number); end != ScanEnd::clean) {
        return stopped(end);
      }
    }
    facets.end_facet();
    ++whole_facets;
  }
}

}  // namespace reading
