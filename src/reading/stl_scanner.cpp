#include "reading/stl_scanner.h"

#include "reading/coordinate.h"
#include "mesh/mesh_store.h"
#include "records/channel.h"
#include "records/endings.h"

namespace reading {
namespace {

using records::ReadOutcome;

[[noreturn]] void read_failure(const records::Channel& stl) {
  // Lines never need more memory than their first 80 characters, so the
  // line buffer cannot run out: a failure is always the read itself.
  records::fatal_report(records::REPORT_READ_ERROR, stl.unit(), stl.path());
}

[[noreturn]] void end_of_file_in_facet(const records::Channel& stl) {
  records::fatal_report(records::REPORT_END_OF_FILE, stl.unit(), stl.path());
}

// Between facets the end of input ends the scan; inside a facet every line
// must be there.
bool read_lead_text(records::Channel& stl, std::string_view& lead) {
  switch (stl.read_line(lead, LEAD_LENGTH)) {
    case ReadOutcome::line:
      return true;
    case ReadOutcome::end_of_input:
      return false;
    case ReadOutcome::failure:
      break;
  }
  read_failure(stl);
}

void skip_line(records::Channel& stl) {
  std::string_view ignored;
  switch (stl.read_line(ignored, 0)) {
    case ReadOutcome::line:
      return;
    case ReadOutcome::end_of_input:
      end_of_file_in_facet(stl);
    case ReadOutcome::failure:
      break;
  }
  read_failure(stl);
}

std::string_view read_vertex_line(records::Channel& stl) {
  std::string_view line_text;
  switch (stl.read_line(line_text, VERTEX_LINE_LENGTH)) {
    case ReadOutcome::line:
      return line_text;
    case ReadOutcome::end_of_input:
      end_of_file_in_facet(stl);
    case ReadOutcome::failure:
      break;
  }
  // The stop message of an unreadable vertex line, with a failure status
  // rather than 0: the output files are left as they were, and a caller
  // must not take them for a fresh conversion.
  records::stop_run(READ_FAILURE_MESSAGE, READ_FAILURE_STATUS);
}

// A lead text shorter than the marker is padded with blanks, so the seven
// characters "  facet" alone open a facet too.
bool is_facet_line(std::string_view lead) {
  if (lead.size() == LEAD_LENGTH) return lead == FACET_MARKER;
  return FACET_MARKER.starts_with(lead) &&
         FACET_MARKER.find_first_not_of(' ', lead.size()) == std::string_view::npos;
}

}  // namespace

void read_corner(std::string_view line_text, double (&xyz)[3]) {
  // Tokens end at a blank or at column 80; nothing after column 80 is seen.
  // A line whose 80 columns hold no blank at all is one keyword that fills
  // the line, as if column 81 were blank: the coordinates after it are
  // missing and read as 0.0.
  const char* position = line_text.data();
  const char* const end = position + line_text.size();
  for (int token = 0; token < 4; ++token) {
    while (position != end && *position == ' ') ++position;
    const char* const start = position;
    if (token > 0) {
      // The usual coordinate is read and its end found in one pass; any
      // other token is cut at its blank and converted the full way.
      const char* const read_to = parse_plain_prefix(start, end, xyz[token - 1]);
      if (read_to != nullptr) {
        position = read_to;
        continue;
      }
    }
    // Tokens are short: a plain loop beats a library search here.
    while (position != end && *position != ' ') ++position;
    if (token > 0) {
      xyz[token - 1] =
          convert_coordinate(std::string_view(start, static_cast<std::size_t>(position - start)));
    }
  }
}

void scan_stl() {
  records::Channel& stl = *records::find_channel(records::STL_UNIT);
  std::string_view lead;
  while (read_lead_text(stl, lead)) {
    if (!is_facet_line(lead)) continue;
    mesh::begin_facet();
    skip_line(stl);
    auto& corners = mesh::corner_xyz();
    for (auto& corner : corners) read_corner(read_vertex_line(stl), corner);
    skip_line(stl);
    skip_line(stl);
    mesh::store_facet();
  }
}

}  // namespace reading
