// Text from outside (a path, an argument) made safe to show on a terminal:
// a control character in a file name could otherwise move the cursor,
// change colours or retitle the window, and the message would not show
// the name the user has to type.
#pragma once

#include <string>
#include <string_view>

namespace check {

// Returns `text` with every byte of a C0 control (0x00-0x1f), DEL (0x7f),
// a C1 control, raw (0x80-0x9f) or in its UTF-8 form (U+0080-U+009F,
// bytes c2 80-c2 9f), and every byte that is not part of valid UTF-8 (stray
// continuation bytes, overlong forms, surrogates, beyond U+10FFFF, a
// sequence cut short) written as a backslash and three octal digits, as in the converter's
// reports.
// Everything else, including valid multi-byte characters, is kept.
std::string escape_for_terminal(std::string_view text);

}  // namespace check
