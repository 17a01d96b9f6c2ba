#include "prepare/coordinate_text.h"

#include <array>
#include <charconv>
#include <cstring>

namespace prepare {

std::size_t render_coordinate(double value, char* out) {
  // "-d.dddddddddddddddde-ddd": the 17 digits correctly rounded.
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::scientific, 16);
  const char* position = text.data();
  char* write = out;
  if (*position == '-') *write++ = *position++;
  std::array<char, 17> digits{};
  digits[0] = *position++;
  ++position;  // the decimal point
  for (std::size_t i = 1; i < digits.size(); ++i) digits[i] = *position++;
  ++position;  // the exponent letter
  const bool negative_exponent = *position++ == '-';
  int exponent = 0;
  for (; position != result.ptr; ++position) exponent = exponent * 10 + (*position - '0');
  if (negative_exponent) exponent = -exponent;

  std::size_t kept = digits.size();
  while (kept > 1 && digits[kept - 1] == '0') --kept;
  std::memcpy(write, digits.data(), kept);
  write += kept;
  // The digits are now an integer: the exponent counts from its last digit.
  exponent -= static_cast<int>(kept) - 1;
  if (digits[0] == '0') exponent = 0;  // zero is "0" (or "-0")
  if (exponent != 0) {
    *write++ = 'e';
    write = std::to_chars(write, write + 5, exponent).ptr;
  }
  return static_cast<std::size_t>(write - out);
}

}  // namespace prepare
