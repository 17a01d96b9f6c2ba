// Text shown on an interactive terminal, such as a file name in a report: a
// folder name may hold bytes that a terminal takes for commands (clear the
// screen, set the title, move the cursor), so every byte that is not part
// of a plainly printable character is shown as a backslash and three octal
// digits. A file or a pipe gets the exact bytes instead, which a caller may
// parse.
#pragma once

#include <cstddef>
#include <string_view>

namespace format {

// How many bytes at the start of text a terminal may be given as they are:
// one printable ASCII character, or one whole, valid UTF-8 sequence of a
// character beyond U+009F. 0 when the first byte must be shown escaped:
// a C0 control (0-31) or DEL (127); a C1 control (U+0080-U+009F) in its
// UTF-8 form, which a terminal acts on as it does on the 7-bit escape
// sequences; or a byte that does not start a valid UTF-8 sequence (a stray
// continuation byte, such as a bare 8-bit C1 control, an overlong form, a
// surrogate, a value beyond U+10FFFF, a sequence cut short), which a
// terminal may take for a C1 control or for the start of another character.
// 0 for empty text.
std::size_t shown_character_length(std::string_view text);

// Hands text to append piece by piece (each piece a std::string_view), with
// every byte that may not be shown as it is written as \ooo. Takes no
// memory of its own, so that a report of insufficient memory can use it.
template <typename Append>
void escape_for_terminal(std::string_view text, Append&& append) {
  while (!text.empty()) {
    std::size_t length = shown_character_length(text);
    if (length == 0) {
      const auto byte = static_cast<unsigned char>(text.front());
      const char escaped[] = {'\\', static_cast<char>('0' + (byte >> 6)),
                              static_cast<char>('0' + ((byte >> 3) & 7)),
                              static_cast<char>('0' + (byte & 7))};
      append(std::string_view(escaped, sizeof escaped));
      length = 1;
    } else {
      append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
}

}  // namespace format
