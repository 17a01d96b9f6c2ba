#include "format/plain_number.h"

#include <array>
#include <charconv>

namespace format {
namespace {

// The longest fixed form is that of the largest double: 309 digits, a sign,
// a point and the decimals a message asks for.
std::string printed(double value, std::chars_format style, int precision) {
  std::array<char, 400> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), value, style, precision);
  return std::string(text.data(), end.ptr);
}

}  // namespace

std::string fixed_text(double value, int decimals) {
  return printed(value, std::chars_format::fixed, decimals);
}

std::string general_text(double value, int digits) {
  return printed(value, std::chars_format::general, digits);
}

}  // namespace format
