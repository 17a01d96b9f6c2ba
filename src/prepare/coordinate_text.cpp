#include "prepare/coordinate_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "format/significant_digits.h"
#include "reading/coordinate.h"

namespace prepare {
namespace {

// Writes [-]digits[e exponent] for the value digits * 10^exponent, with the
// digits' trailing zeros moved into the exponent first.
std::size_t write_compact(bool negative, const char* digits, std::size_t count, int exponent,
                          char* out) {
  while (count > 1 && digits[count - 1] == '0') {
    --count;
    ++exponent;
  }
  char* write = out;
  if (negative) *write++ = '-';
  std::memcpy(write, digits, count);
  write += count;
  if (digits[0] == '0') exponent = 0;  // zero is "0" (or "-0")
  if (exponent != 0) {
    *write++ = 'e';
    write = std::to_chars(write, write + 5, exponent).ptr;
  }
  return static_cast<std::size_t>(write - out);
}

// Seventeen correctly rounded significant digits, which every reading gives
// back.
std::size_t write_seventeen_digits(double value, char* out) {
  // "-d.dddddddddddddddde-ddd"
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::scientific, 16);
  const char* position = text.data();
  const bool negative = *position == '-';
  if (negative) ++position;
  std::array<char, 17> digits{};
  digits[0] = *position++;
  ++position;  // the decimal point
  for (std::size_t i = 1; i < digits.size(); ++i) digits[i] = *position++;
  ++position;  // the exponent letter
  const bool negative_exponent = *position++ == '-';
  int exponent = 0;
  for (; position != result.ptr; ++position) exponent = exponent * 10 + (*position - '0');
  if (negative_exponent) exponent = -exponent;
  // The digits as an integer: the exponent counts from the last one.
  return write_compact(negative, digits.data(), digits.size(), exponent - 16, out);
}

}  // namespace

std::size_t render_coordinate(double value, char* out) {
  if (value == 0.0) return write_compact(std::signbit(value), "0", 1, 0, out);
  // Most coordinates of a model have a short decimal form: 15 correctly
  // rounded digits (as many as the deck's coordinates carry) are enough
  // when the converter's short way reads them back as this very double.
  // Anything else takes 17.
  std::array<char, format::MAX_FAST_DIGITS> digits{};
  const int exponent =
      format::write_significant_digits(std::fabs(value), format::MAX_FAST_DIGITS, digits.data());
  const std::size_t length =
      write_compact(std::signbit(value), digits.data(), format::MAX_FAST_DIGITS,
                    exponent - format::MAX_FAST_DIGITS, out);
  double read_back = 0.0;
  if (reading::parse_plain_coordinate({out, length}, read_back) && read_back == value) {
    return length;
  }
  return write_seventeen_digits(value, out);
}

std::size_t render_normal_component(double value, char* out) {
  constexpr int NORMAL_DIGITS = 7;
  if (value == 0.0 || !std::isfinite(value)) return write_compact(false, "0", 1, 0, out);
  std::array<char, NORMAL_DIGITS> digits{};
  const int exponent =
      format::write_significant_digits(std::fabs(value), NORMAL_DIGITS, digits.data());
  return write_compact(std::signbit(value), digits.data(), NORMAL_DIGITS, exponent - NORMAL_DIGITS,
                       out);
}

}  // namespace prepare
