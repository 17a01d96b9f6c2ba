#include "format/exp_general.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "format/digit_chars.h"
#include "format/digitless_fields.h"
#include "format/significant_digits.h"

namespace format {

void render_exp_general(double value, int digits, char letter, std::span<char> field) {
  if (!std::isfinite(value)) {
    render_not_finite(value, field);
    return;
  }
  const bool negative = value < 0;  // false for -0.0
  // Point, digits and a 4-character exponent part (a double's decimal
  // exponent never needs more than three digits), then the sign.
  if (digits < 1 || field.size() < static_cast<std::size_t>(digits) + 5 + (negative ? 1 : 0)) {
    fill_asterisks(field);
    return;
  }
  const std::size_t width = field.size();
  const auto count = static_cast<std::size_t>(digits);
  char* const digits_out = field.data() + (width - 4 - count);

  int exponent = 0;
  const double magnitude = std::fabs(value);
  if (magnitude == 0) {
    std::fill_n(digits_out, count, '0');
  } else {
    exponent = write_significant_digits(magnitude, digits, digits_out);
  }

  // Exponent part: letter, sign, two digits; from |e| = 100 up the letter
  // gives way to a third digit.
  char* const exponent_out = field.data() + (width - 4);
  const char exponent_sign = exponent < 0 ? '-' : '+';
  const auto exponent_magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
  if (exponent_magnitude <= 99) {
    exponent_out[0] = letter;
    exponent_out[1] = exponent_sign;
  } else {
    exponent_out[0] = exponent_sign;
    exponent_out[1] = static_cast<char>('0' + exponent_magnitude / 100);
  }
  write_pair(exponent_magnitude % 100, exponent_out + 2);

  // Point, then "0" where there is room for it, sign and blanks. The usual
  // fields have room for both; the sign is then chosen without a branch.
  std::size_t position = width - 5 - count;
  field[position] = '.';
  if (position >= 2) {
    field[position - 1] = '0';
    field[position - 2] = negative ? '-' : ' ';
    write_blanks(field.data(), position - 2);
  } else if (position == 1) {
    field[0] = negative ? '-' : '0';
  }
}

}  // namespace format
