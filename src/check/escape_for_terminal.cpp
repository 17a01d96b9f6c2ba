#include "check/escape_for_terminal.h"

#include "format/terminal_text.h"

namespace check {

// The same bytes are escaped, in the same form, as in the converter's
// reports, so that a name reads alike in the messages of both programs.
std::string escape_for_terminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  format::escape_for_terminal(text, [&out](std::string_view piece) { out += piece; });
  return out;
}

}  // namespace check
