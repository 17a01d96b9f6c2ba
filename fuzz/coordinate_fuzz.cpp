// Fuzz target: one coordinate token, as the scanner hands it over (0 to 79
// bytes, no blank). Every token either converts or fails, leaving the value
// untouched; plain decimals of at most 15 significant digits with a decimal
// exponent within +-22 convert exactly as strtod does (the nearest double).
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "reading/coordinate.h"

namespace {

// Sign, digits with at most one point, then optionally e/E, a sign and at
// least one digit; returns false for anything else.
bool plain_decimal_in_exact_range(std::string_view token) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  int significant = 0;
  int fraction = 0;
  bool point = false;
  bool any_digit = false;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    if (c == '.') {
      if (point) return false;
      point = true;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      any_digit = true;
      if (significant > 0 || c != '0') ++significant;
      if (point) ++fraction;
    } else {
      break;
    }
  }
  if (!any_digit || significant == 0 || significant > 15) return false;
  long exponent = 0;
  if (i < token.size()) {
    if (token[i] != 'e' && token[i] != 'E') return false;
    ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
    if (i == token.size()) return false;
    for (; i < token.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(token[i]))) return false;
      exponent = exponent * 10 + (token[i] - '0');
      if (exponent > 1000) return false;
    }
    if (negative) exponent = -exponent;
  }
  const long net = exponent - fraction;
  return net >= -22 && net <= 22;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 79 || std::memchr(data, ' ', size) != nullptr) return -1;
  const std::string_view token(reinterpret_cast<const char*>(data), size);
  constexpr double UNTOUCHED = 12345.678;
  double value = UNTOUCHED;
  const bool converted = reading::parse_coordinate(token, value);
  if (!converted &&
      std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(UNTOUCHED)) {
    __builtin_trap();  // a failure must not deliver a value
  }
  if (plain_decimal_in_exact_range(token)) {
    if (!converted) __builtin_trap();
    const std::string text(token);
    const double nearest = std::strtod(text.c_str(), nullptr);
    if (std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(nearest)) {
      __builtin_trap();
    }
  }
  return 0;
}
