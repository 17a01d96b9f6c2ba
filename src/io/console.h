// The reports on standard output and standard error, under one rule for
// every program: text from outside (a path, an argument, a name in a
// message) is shown escaped only where the stream is an interactive
// terminal, on which its control characters would move the cursor, change
// colours or retitle the window, and invalid UTF-8 could swallow the next
// character. A file or a pipe gets the exact bytes, which a script may
// compare with the names it passed.
#pragma once

#include <string>
#include <string_view>

#include "io/failure.h"

namespace io {

enum class StandardStream { output, error };

// The stream's descriptor and its name in failures ("standard output").
int descriptor_of(StandardStream stream);

// Whether the stream is an interactive terminal.
bool is_terminal(StandardStream stream);

// `text` with every byte a terminal may act on written as a backslash and
// three octal digits, as format/terminal_text.h says: C0 controls and DEL, C1
// controls raw or in their UTF-8 form, and every byte of invalid UTF-8.
// Valid characters, multi-byte ones too, are kept.
std::string escaped_for_terminal(std::string_view text);

// `text` as it may be shown on the stream: escaped as format/terminal_text.h
// does where the stream is a terminal, else unchanged. Apply it to the
// pieces from outside, never to a report's own line breaks.
std::string shown_on(StandardStream stream, std::string_view text);

// The same for a report whose every line break is its own and whose other
// bytes may come from outside (names inside its sentences): each line is
// shown as shown_on shows it, the line breaks kept.
std::string lines_shown_on(StandardStream stream, std::string_view text);

// Writes the whole text to the stream, as it is. The failure reads
// "cannot write standard output: reason".
[[nodiscard]] Outcome write_to(StandardStream stream, std::string_view text);

}  // namespace io
