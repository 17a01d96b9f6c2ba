#include "format/significant_digits.h"

#include <algorithm>
#include <charconv>

namespace format {

namespace {

// The longest exact decimal expansion of a double is that of m * 2^-1074
// with m just below 2^53 (1074 decimals, 307 of them leading zeros):
// m * 5^1074 < 10^767. Rounding to more significant digits changes nothing,
// and the digits beyond are zeros.
constexpr int MAX_SIGNIFICANT_DIGITS = 767;

}  // namespace

// The library's exact conversion, which works on the stored binary value
// and rounds exact ties to even. The deck's and the view's coordinate forms
// come here only for what their fast path leaves undecided (subnormals,
// roundings too close to call, a carry into a new first digit:
// format/exp_forms.cpp); other callers come here for every value.
int write_significant_digits(double magnitude, int count, char* out) {
  const int precision = std::min(count, MAX_SIGNIFICANT_DIGITS) - 1;
  // d.ddd, "e", sign and at most three exponent digits.
  char buffer[MAX_SIGNIFICANT_DIGITS + 1 + 5];
  const auto conversion = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                        std::chars_format::scientific, precision);
  const char* position = buffer;
  *out++ = *position++;
  if (*position == '.') {
    ++position;
    out = std::copy_n(position, precision, out);
    position += precision;
  }
  std::fill_n(out, count - 1 - precision, '0');
  ++position;  // the 'e'
  const bool negative_exponent = *position++ == '-';
  int exponent = 0;
  std::from_chars(position, conversion.ptr, exponent);
  return (negative_exponent ? -exponent : exponent) + 1;
}

}  // namespace format
