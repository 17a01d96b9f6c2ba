#include "format/fields.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "format/digit_chars.h"
#include "format/digitless_fields.h"
#include "format/exp_forms.h"
#include "format/exp_general.h"
#include "numeric/digit_tables.h"

namespace format {
void render_int(std::int32_t value, std::span<char> field) {
  // Node and element numbers fill most records: below 10^8 they are eight
  // digits made at once, whose leading zeros turn into blanks.
  auto magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  // Digits from the bit length: 1233/4096 is just above log10(2), and one
  // compare settles the power of ten in between.
  const auto guess = (static_cast<std::size_t>(std::bit_width(magnitude)) * 1233) >> 12;
  std::size_t length = guess;
  if (magnitude >= numeric::INTEGER_POWERS[guess]) ++length;  // guess <= 9
  if (magnitude == 0) ++length;
  if (value < 0) ++length;

  const std::size_t width = field.size();
  if (length > width) {
    fill_asterisks(field);
    return;
  }
  char* const out = field.data();
  if (value >= 0 && length <= 8 && width >= 8 && width <= 16) {
    const std::uint64_t leading = (std::uint64_t{1} << (8 * (8 - length))) - 1;  // first bytes
    const std::uint64_t chars = (eight_digit_chars(magnitude) & ~leading) | (BLANK_CHARS & leading);
    store_chars<8>(BLANK_CHARS, out);
    store_chars<8>(chars, out + width - 8);
    return;
  }

  // Any other value or width: blanks, then the digits two at a time from
  // the right.
  std::memset(out, ' ', width - length);
  char* at = out + width;
  while (magnitude >= 100) {
    const std::uint32_t pair = magnitude % 100;
    magnitude /= 100;
    at -= 2;
    write_pair(pair, at);
  }
  if (magnitude >= 10) {
    at -= 2;
    write_pair(magnitude, at);
  } else {
    *--at = static_cast<char>('0' + magnitude);
  }
  if (value < 0) *--at = '-';
}

void render_fixed(double value, int decimals, std::span<char> field) {
  if (!std::isfinite(value)) {
    render_not_finite(value, field);
    return;
  }
  if (decimals < 0) {
    fill_asterisks(field);
    return;
  }
  // No digit of a double lies more than 1074 places after the point (2^-1074
  // is the smallest step), so rounding at 1074 places is exact and further
  // places are zeros.
  constexpr int MAX_EXACT_DECIMALS = 1074;
  // The largest double is below 10^309.
  constexpr std::size_t MAX_INTEGER_DIGITS = 309;
  const int precision = std::min(decimals, MAX_EXACT_DECIMALS);
  const double magnitude = std::fabs(value);
  char buffer[MAX_INTEGER_DIGITS + 1 + MAX_EXACT_DECIMALS];
  const auto conversion =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, precision);
  const std::string_view text(buffer, static_cast<std::size_t>(conversion.ptr - buffer));
  const std::string_view integer_part = text.substr(0, text.find('.'));
  const std::string_view fraction =
      precision > 0 ? text.substr(integer_part.size() + 1) : std::string_view();

  const bool rounds_to_zero = text.find_first_not_of("0.") == std::string_view::npos;
  // Zeros of either sign and subnormals that round away show no sign; a
  // negative normal value keeps its sign even when it rounds to zero.
  const bool subnormal = magnitude < std::numeric_limits<double>::min();
  const bool negative = value < 0 && !(rounds_to_zero && subnormal);
  const bool integer_is_zero = integer_part == "0";

  const auto decimal_count = static_cast<std::size_t>(decimals);
  // The "0" of a zero integer part is counted only where it is required.
  std::size_t needed = (negative ? 1 : 0) + 1 + decimal_count;
  if (!integer_is_zero || decimals == 0) needed += integer_part.size();
  if (needed > field.size()) {
    fill_asterisks(field);
    return;
  }
  const bool leading_zero = integer_is_zero && decimals > 0 && needed < field.size();
  if (leading_zero) needed += 1;

  auto out = std::fill_n(field.begin(), field.size() - needed, ' ');
  if (negative) *out++ = '-';
  if (!integer_is_zero || decimals == 0 || leading_zero) {
    out = std::copy(integer_part.begin(), integer_part.end(), out);
  }
  *out++ = '.';
  out = std::copy(fraction.begin(), fraction.end(), out);
  std::fill(out, field.end(), '0');
}

void render_exp(double value, int digits, char letter, std::span<char> field) {
  // The solver deck's and the mesh view's coordinate fields.
  if (digits == 15 && field.size() == DECK_COORDINATE_WIDTH && letter == 'D') {
    render_deck_coordinate(value, field.data());
  } else if (digits == 7 && field.size() == VIEW_COORDINATE_WIDTH && letter == 'E') {
    render_view_coordinate(value, field.data());
  } else {
    render_exp_general(value, digits, letter, field);
  }
}

void render_text(std::string_view text, std::span<char> field) {
  if (text.size() >= field.size()) {
    std::copy_n(text.begin(), field.size(), field.begin());
  } else {
    place_right(text, field);
  }
}

}  // namespace format
