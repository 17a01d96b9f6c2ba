// The scan itself, a template over its sink so that the converter's store
// is filled without a call through a pointer per facet. Included by
// stl_scanner.h only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace reading {
namespace scan_detail {

template <typename Sink>
constexpr bool wants_whole_lines() {
  if constexpr (requires { Sink::WHOLE_LINES; }) {
    return Sink::WHOLE_LINES;
  } else {
    return false;
  }
}

// A lead text shorter than the marker is padded with blanks, so the seven
// characters "  facet" alone open a facet too.
constexpr bool is_facet_line(std::string_view lead) {
  if (lead.size() == FACET_MARKER.size()) return lead == FACET_MARKER;
  return FACET_MARKER.starts_with(lead) &&
         FACET_MARKER.find_first_not_of(' ', lead.size()) == std::string_view::npos;
}

constexpr ScanOutcome ended(ScanEnd end, std::int32_t facets, std::int64_t line_number) {
  ScanOutcome outcome;
  outcome.end = end;
  outcome.facets = facets;
  outcome.line_number = line_number;
  return outcome;
}

// Reads one line whose content is never examined.
inline ScanEnd skip_line(records::InputChannel& stl, std::int64_t& line_number) {
  std::string_view ignored;
  switch (stl.read_line(ignored, 0)) {
    case records::ReadOutcome::line:
      ++line_number;
      return ScanEnd::clean;
    case records::ReadOutcome::end_of_input:
      return ScanEnd::end_of_file_in_facet;
    case records::ReadOutcome::failure:
      break;
  }
  return ScanEnd::read_failure;
}

// The first characters of a line that the scanner itself reads; a line
// kept whole for the sink is cut here.
template <bool whole_lines>
constexpr std::string_view first_characters(std::string_view line, std::size_t count) {
  if constexpr (whole_lines) {
    return std::string_view(line.data(), std::min(line.size(), count));
  } else {
    return line;  // already read as at most count characters
  }
}

}  // namespace scan_detail

template <typename Sink>
requires FacetSink<Sink> || FacetTextSink<Sink> ScanOutcome scan_stl(records::InputChannel& stl,
                                                                     Sink& sink) {
  using records::ReadOutcome;
  using scan_detail::ended;
  constexpr bool whole_lines = scan_detail::wants_whole_lines<Sink>();
  constexpr std::size_t lead_keep =
      whole_lines ? std::numeric_limits<std::size_t>::max() : FACET_MARKER.size();
  constexpr std::size_t vertex_keep =
      whole_lines ? std::numeric_limits<std::size_t>::max() : VERTEX_LINE_LENGTH;

  std::int32_t facets = 0;
  std::int64_t line_number = 0;  // of the last line read
  std::string_view line;
  FacetCorners corners{};
  for (;;) {
    // Between facets the end of input ends the scan.
    switch (stl.read_line(line, lead_keep)) {
      case ReadOutcome::line:
        break;
      case ReadOutcome::end_of_input:
        return ended(ScanEnd::clean, facets, 0);
      case ReadOutcome::failure:
        return ended(ScanEnd::read_failure, facets, line_number + 1);
    }
    ++line_number;
    if (!scan_detail::is_facet_line(
            scan_detail::first_characters<whole_lines>(line, FACET_MARKER.size()))) {
      if constexpr (requires { sink.skipped_line(line_number, line); }) {
        sink.skipped_line(line_number, line);
      }
      continue;
    }
    const std::int64_t facet_line = line_number;
    if (!sink.begin_facet()) return ended(ScanEnd::too_many_facets, facets, facet_line);

    // Inside a facet every line must be there: one skipped line, three
    // vertex lines, two skipped lines, whatever they hold.
    const auto stopped = [&](ScanEnd end) {
      // A facet cut off by the end of the file is named by its facet line.
      return ended(end, facets,
                   end == ScanEnd::end_of_file_in_facet ? facet_line : line_number + 1);
    };
    const auto skip_line = [&] { return scan_detail::skip_line(stl, line_number); };

    if (const ScanEnd end = skip_line(); end != ScanEnd::clean) return stopped(end);
    for (std::size_t corner = 0; corner < corners.size(); ++corner) {
      switch (stl.read_line(line, vertex_keep)) {
        case ReadOutcome::line:
          break;
        case ReadOutcome::end_of_input:
          return stopped(ScanEnd::end_of_file_in_facet);
        case ReadOutcome::failure:
          return stopped(ScanEnd::vertex_read_failure);
      }
      ++line_number;
      if constexpr (FacetTextSink<Sink>) {
        sink.vertex_text(line_number,
                         scan_detail::first_characters<whole_lines>(line, VERTEX_LINE_LENGTH));
      } else {
        std::string_view bad_token;
        int empty_tokens = 0;
        if (!read_corner(scan_detail::first_characters<whole_lines>(line, VERTEX_LINE_LENGTH),
                         corners[corner], bad_token, empty_tokens)) {
          ScanOutcome outcome = ended(ScanEnd::invalid_coordinate, facets, line_number);
          outcome.token = bad_token;
          return outcome;
        }
        if constexpr (requires { sink.vertex_line(line_number, line, empty_tokens); }) {
          sink.vertex_line(line_number, line, empty_tokens);
        }
      }
    }
    for (int closing = 0; closing < 2; ++closing) {
      if (const ScanEnd end = skip_line(); end != ScanEnd::clean) return stopped(end);
    }
    if constexpr (FacetTextSink<Sink>) {
      sink.end_facet();
    } else {
      sink.store_facet(corners);
    }
    ++facets;
  }
}

}  // namespace reading
