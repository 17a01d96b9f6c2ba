// Digits and blanks as characters, for the field renderers: eight digits
// computed at once in one 64-bit word, pairs from a table, and short runs of
// blanks as a few fixed-size stores. All inline: they sit in the renderers'
// hot loops, where a call costs more than the work.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "numeric/digit_tables.h"

namespace format {

// The eight decimal digits of value < 10^8 as eight characters, most
// significant in the lowest byte, computed in all positions at once: the
// value is split into halves of four digits, each half into two pairs, each
// pair into two digits, every step on all the parts side by side in one
// 64-bit word. (x * 10486) >> 20 is x / 100 for x < 10^4, and
// (x * 103) >> 10 is x / 10 for x < 100; neither product reaches the next
// part's bits. A step puts the quotient q of every part x in its lower half
// and x - 100q in its upper half: (x << 16) - q * ((100 << 16) - 1), no part
// borrowing from another, and one multiply fewer than shifting them apart.
constexpr std::uint64_t eight_digit_chars(std::uint32_t value) {
  const std::uint64_t quotient = value / 10000;
  std::uint64_t parts = quotient | (value - quotient * 10000) << 32;
  std::uint64_t high = ((parts * 10486) >> 20) & 0x0000007F0000007Fu;
  parts = (parts << 16) - high * ((100 << 16) - 1);
  high = ((parts * 103) >> 10) & 0x000F000F000F000Fu;
  parts = (parts << 8) - high * ((10 << 8) - 1);
  return parts + 0x3030303030303030u;  // '0' in every character
}
static_assert(eight_digit_chars(12345678) == 0x3837363534333231u);
static_assert(eight_digit_chars(0) == 0x3030303030303030u);
static_assert(eight_digit_chars(99999999) == 0x3939393939393939u);

// Eight blanks as a word of characters.
inline constexpr std::uint64_t BLANK_CHARS = 0x2020202020202020u;

// Stores the first COUNT characters of a word whose lowest byte is the
// first character.
template <std::size_t COUNT>
inline void store_chars(std::uint64_t chars, char* out) {
  static_assert(COUNT <= 8);
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &chars, COUNT);
  } else {
    for (std::size_t i = 0; i < COUNT; ++i) out[i] = static_cast<char>(chars >> (8 * i));
  }
}

inline void write_eight_digits(std::uint32_t value, char* out) {
  store_chars<8>(eight_digit_chars(value), out);
}

// The two digits of value < 100.
inline void write_pair(std::uint32_t value, char* out) {
  std::memcpy(out, numeric::DIGIT_PAIRS + 2 * value, 2);
}

// Writes exactly `count` digits of value < 10^count, leading zeros included.
inline void write_digits(std::uint64_t value, int count, char* out) {
  char* end = out + count;
  while (count >= 8) {
    end -= 8;
    write_eight_digits(static_cast<std::uint32_t>(value % 100000000), end);
    value /= 100000000;
    count -= 8;
  }
  auto rest = static_cast<std::uint32_t>(value);
  while (count >= 2) {
    end -= 2;
    write_pair(rest % 100, end);
    rest /= 100;
    count -= 2;
  }
  if (count == 1) end[-1] = static_cast<char>('0' + rest);
}

// Short runs of blanks are written as a few fixed-size stores rather than
// through a library call, which costs more than the whole run here.
inline void write_blanks(char* out, std::size_t count) {
  constexpr char BLANKS[] = "        ";
  if (count >= 8 && count <= 16) {
    std::memcpy(out, BLANKS, 8);
    std::memcpy(out + count - 8, BLANKS, 8);
  } else if (count >= 4 && count < 8) {
    std::memcpy(out, BLANKS, 4);
    std::memcpy(out + count - 4, BLANKS, 4);
  } else if (count >= 1 && count < 4) {
    out[0] = ' ';
    out[count / 2] = ' ';
    out[count - 1] = ' ';
  } else {
    std::memset(out, ' ', count);
  }
}

}  // namespace format
