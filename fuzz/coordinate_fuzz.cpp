// Fuzz target: one coordinate token, as the scanner hands it over (0 to 79
// bytes, no blank). Every token either converts or fails, leaving the value
// untouched. Every token that converts is rewritten in C syntax and read by
// strtod, which gives the nearest double: the result must be that double,
// or, only where the token's value lies within 2^-10 units in the last place
// of the midpoint between two doubles, the other of the two.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/big_unsigned.h"
#include "reading/coordinate.h"

namespace {

using testing_support::lies_near_midpoint;

// A token that converted, in the terms strtod understands.
struct CToken {
  enum class Kind { number, infinity, not_a_number } kind = Kind::number;
  bool negative = false;
  bool plus_written = false;
  bool digit_written = false;  // any mantissa digit, zeros included
  std::string text;            // sign, mantissa, "e", exponent: for strtod
  std::string digits;          // every mantissa digit, leading zeros dropped
  std::int64_t exponent = 0;   // of the last digit in digits
};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit_or_blank(char c) { return c == ' ' || (c >= '0' && c <= '9'); }
char lower(char c) { return static_cast<char>(c | 0x20); }

// Rewrites the token: a NUL ends it, blanks inside read as zeros, D and Q
// exponent letters become e, a bare sign starts an exponent, an exponent
// without digits is zero. Nothing for a token that should not have converted.
std::optional<CToken> c_token(std::string_view token) {
  token = token.substr(0, token.find('\0'));
  while (!token.empty() && is_space(token.front())) token.remove_prefix(1);
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  CToken result;
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    result.negative = token[i] == '-';
    result.plus_written = token[i] == '+';
    ++i;
  }
  if (i < token.size() && (lower(token[i]) == 'i' || lower(token[i]) == 'n')) {
    result.kind = lower(token[i]) == 'i' ? CToken::Kind::infinity : CToken::Kind::not_a_number;
    return result;
  }
  result.text = result.negative ? "-" : "";
  std::string mantissa;
  std::int64_t fraction_count = 0;
  bool point = false;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    if (c == '.') {
      if (point) return std::nullopt;
      point = true;
      mantissa += '.';
      continue;
    }
    if (!is_digit_or_blank(c)) break;
    const char digit = c == ' ' ? '0' : c;
    mantissa += digit;
    if (point) ++fraction_count;
    if (!result.digits.empty() || digit != '0') result.digits += digit;
  }
  std::string exponent_digits;
  bool exponent_negative = false;
  if (i < token.size()) {
    const char c = lower(token[i]);
    if (c == 'e' || c == 'd' || c == 'q') {
      ++i;
      if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        exponent_negative = token[i++] == '-';
      }
    } else if (c == '+' || c == '-') {
      exponent_negative = token[i++] == '-';
    } else {
      return std::nullopt;
    }
    for (; i < token.size(); ++i) {
      if (!is_digit_or_blank(token[i])) return std::nullopt;
      exponent_digits += token[i] == ' ' ? '0' : token[i];
    }
  }
  result.digit_written = mantissa.find_first_of("0123456789") != std::string::npos;
  if (!result.digit_written) mantissa = "0";
  result.text += mantissa + "e" + (exponent_negative ? "-" : "") +
                 (exponent_digits.empty() ? "0" : exponent_digits);
  // The exponent matters below only when the value is neither zero nor
  // beyond the range: then it has few significant digits.
  std::int64_t written = 0;
  for (const char c : exponent_digits) {
    written = std::min<std::int64_t>(written * 10 + (c - '0'), 100'000'000);
  }
  result.exponent = (exponent_negative ? -written : written) - fraction_count;
  return result;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "coordinate check failed: %s\n", what);
  std::abort();
}

// Bits of positive doubles order like their values; the two doubles around
// a value are one apart, the largest double and infinity included.
void check_number(const CToken& token, double value) {
  if (token.digits.empty()) {
    // No significant digit: zero, negative only after "-" and a digit ("-0").
    if (value != 0.0 || std::signbit(value) != (token.negative && token.digit_written)) {
      fail("zero");
    }
    return;
  }
  const double nearest = std::strtod(token.text.c_str(), nullptr);
  if (std::signbit(value) != token.negative) fail("sign");
  const auto got = std::bit_cast<std::uint64_t>(std::fabs(value));
  const auto want = std::bit_cast<std::uint64_t>(std::fabs(nearest));
  if (got == want) return;
  if (std::max(got, want) - std::min(got, want) != 1) fail("not a neighbour");
  // Such an exponent puts the value far beyond the range of doubles.
  if (token.exponent < -2000 || token.exponent > 2000) fail("far from a midpoint");
  // Within 2^-10 units in the last place of the midpoint.
  if (!lies_near_midpoint(token.digits, static_cast<int>(token.exponent),
                          std::bit_cast<double>(std::min(got, want)), 10)) {
    fail("not near a midpoint");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 79 || std::memchr(data, ' ', size) != nullptr) return -1;
  const std::string_view token(reinterpret_cast<const char*>(data), size);
  constexpr double UNTOUCHED = 12345.678;
  double value = UNTOUCHED;
  const bool converted = reading::parse_coordinate(token, value);
  if (!converted) {
    if (std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(UNTOUCHED)) {
      fail("a failure must not deliver a value");
    }
    return 0;
  }
  const std::optional<CToken> mapped = c_token(token);
  if (!mapped) fail("converted a token outside the syntax");
  switch (mapped->kind) {
    case CToken::Kind::infinity:
      if (!std::isinf(value) || std::signbit(value) != mapped->negative) fail("infinity");
      break;
    case CToken::Kind::not_a_number:
      // The sign bit is set unless a "+" was written.
      if (!std::isnan(value) || std::signbit(value) == mapped->plus_written) fail("NaN");
      break;
    case CToken::Kind::number:
      check_number(*mapped, value);
      break;
  }
  return 0;
}
