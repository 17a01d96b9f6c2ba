#include "check/escape_for_terminal.h"

#include <cstddef>

namespace check {
namespace {

void append_escaped(std::string& out, unsigned char byte) {
  constexpr std::string_view HEX = "0123456789abcdef";
  out += "\\x";
  out += HEX[byte >> 4];
  out += HEX[byte & 15];
}

bool is_continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The length of the valid UTF-8 sequence of two or more bytes that starts
// at text[i], or 0 when none does there.
std::size_t sequence_length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k])
                               : static_cast<unsigned char>(0);
  };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;  // range of the second byte
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // overlong below
    if (lead == 0xed) high = 0x9f;  // surrogates above
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;   // overlong below
    if (lead == 0xf4) high = 0x8f;  // beyond U+10FFFF above
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!is_continuation(byte(k))) return 0;
  }
  return length;
}

}  // namespace

std::string escape_for_terminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7f) {
        append_escaped(out, lead);
      } else {
        out += static_cast<char>(lead);
      }
      ++i;
      continue;
    }
    const std::size_t length = sequence_length(text, i);
    // U+0080-U+009F: the C1 controls, two bytes c2 80-9f.
    const bool c1 = length == 2 && lead == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
    if (length == 0) {
      append_escaped(out, lead);
      ++i;
    } else if (c1) {
      append_escaped(out, lead);
      append_escaped(out, static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace check
