#include "io/console.h"

#include <unistd.h>

#include "format/terminal_text.h"
#include "io/file_writer.h"

namespace io {
namespace {

const std::string& name_of(StandardStream stream) {
  static const std::string output = "standard output";
  static const std::string error = "standard error";
  return stream == StandardStream::output ? output : error;
}

}  // namespace

int descriptor_of(StandardStream stream) {
  return stream == StandardStream::output ? STDOUT_FILENO : STDERR_FILENO;
}

bool is_terminal(StandardStream stream) { return ::isatty(descriptor_of(stream)) == 1; }

std::string escaped_for_terminal(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  format::escape_for_terminal(text, [&shown](std::string_view piece) { shown += piece; });
  return shown;
}

std::string shown_on(StandardStream stream, std::string_view text) {
  return is_terminal(stream) ? escaped_for_terminal(text) : std::string(text);
}

std::string lines_shown_on(StandardStream stream, std::string_view text) {
  if (!is_terminal(stream)) return std::string(text);
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    shown += escaped_for_terminal(line);
    if (end == std::string_view::npos) break;
    shown += '\n';
    text.remove_prefix(end + 1);
  }
  return shown;
}

Outcome write_to(StandardStream stream, std::string_view text) {
  return write_all(descriptor_of(stream), text, name_of(stream));
}

}  // namespace io
