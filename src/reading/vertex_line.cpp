#include "reading/vertex_line.h"

#include "reading/coordinate.h"

namespace reading {

bool read_corner(std::string_view line_text, geometry::Point& xyz, std::string_view& bad_token,
                 int& empty_tokens) {
  // Tokens end at a blank or at column 80; nothing after column 80 is seen.
  // A line whose 80 columns hold no blank at all is one keyword that fills
  // the line, as if column 81 were blank: the coordinates after it are
  // missing and read as 0.0.
  const char* position = line_text.data();
  const char* const end = position + line_text.size();
  for (std::size_t token = 0; token < 4; ++token) {
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
      const std::string_view text(start, static_cast<std::size_t>(position - start));
      if (text.empty()) {
        ++empty_tokens;
        xyz[token - 1] = 0.0;
      } else if (!parse_coordinate(text, xyz[token - 1])) {
        bad_token = text;
        return false;
      }
    }
  }
  return true;
}

}  // namespace reading
