#include "format/terminal_text.h"

namespace format {

std::size_t shown_character_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return lead >= 32 && lead != 127 ? 1 : 0;
  // The sequence length and the range its second byte must lie in: the
  // narrower ranges after E0, ED, F0 and F4 exclude overlong forms,
  // surrogates and values beyond U+10FFFF. C2 80 to C2 9F are the C1
  // controls, so a sequence that starts with C2 must go on with A0 or more.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead == 0xC2) {
    length = 2;
    low = 0xA0;
  } else if (lead >= 0xC3 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;  // a continuation byte, C0, C1 (overlong), or F5 to FF
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if (next < 0x80 || next > 0xBF) return 0;
  }
  return length;
}

}  // namespace format
