#include "reading/coordinate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <limits>
#include <string_view>

#include "numeric/digit_tables.h"
#include "numeric/powers_of_ten.h"
#include "numeric/wide_multiply.h"

namespace reading {
using namespace numeric;
namespace {

static_assert(std::numeric_limits<double>::is_iec559);
// 10^0..10^22 are exact doubles, so one multiply or divide rounds once,
// provided nothing is computed in wider precision:
static_assert(FLT_EVAL_METHOD == 0);

constexpr std::array<double, 23> EXACT_POWERS = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr int KEPT_DIGITS = 27;
constexpr int GROUP_DIGITS = 9;
constexpr int EXPONENT_DIGITS = 6;

// Decimal magnitudes outside [LOWEST_MAGNITUDE, HIGHEST_MAGNITUDE] are zero or
// an overflow before any rounding; inside, the net exponent of 1..27 kept
// digits lies in [LOWEST_MAGNITUDE - 27, HIGHEST_MAGNITUDE - 1].
constexpr int HIGHEST_MAGNITUDE = 309;
constexpr int LOWEST_MAGNITUDE = -323;

// The coarse table must reach every such net exponent with a fine factor
// that is exact (0..27).
static_assert([] {
  for (int e = LOWEST_MAGNITUDE - KEPT_DIGITS; e <= HIGHEST_MAGNITUDE - 1; ++e) {
    if (e >= FINE_LOWEST && e <= FINE_HIGHEST) continue;
    int j = std::numeric_limits<int>::min();
    for (const int coarse : COARSE_EXPONENTS) {
      if (coarse <= e) j = coarse;
    }
    if (e - j > 27) return false;
  }
  return std::is_sorted(COARSE_EXPONENTS.begin(), COARSE_EXPONENTS.end());
}());

constexpr std::uint64_t NAN_BITS = 0xFFF8000000000000;       // quiet, zero payload, sign set
constexpr std::uint64_t PLUS_NAN_BITS = 0x7FF8000000000000;  // the same after a written "+"

constexpr bool is_leading_space(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

constexpr unsigned char lower_case(char c) {
  return static_cast<unsigned char>(static_cast<unsigned char>(c) | 0x20U);
}

// A NUL ends the token; whatever follows it is ignored.
constexpr bool ends_token(const char* p, const char* end) { return p == end || *p == '\0'; }

// Compares the next letters with word (lower case), any case accepted.
bool take_word(const char*& p, const char* end, std::string_view word) {
  for (const char letter : word) {
    if (ends_token(p, end) || lower_case(*p) != static_cast<unsigned char>(letter)) return false;
    ++p;
  }
  return true;
}

// INF, INFINITY, NAN and NAN(...), p at their first letter.
bool scan_word(const char* p, const char* end, DecimalDigits& digits) {
  if (lower_case(*p) == 'i') {
    digits.kind = DecimalDigits::Kind::INFINITE;
    if (!take_word(p, end, "inf")) return false;
    if (ends_token(p, end)) return true;
    return take_word(p, end, "inity") && ends_token(p, end);
  }
  digits.kind = DecimalDigits::Kind::NOT_A_NUMBER;
  if (!take_word(p, end, "nan")) return false;
  if (ends_token(p, end)) return true;
  if (*p != '(') return false;
  ++p;
  // Anything may stand between the parentheses; the ")" must close the token.
  const char* close = p;
  while (!ends_token(close, end)) ++close;
  return close != p && close[-1] == ')';
}

// The digit value of a mantissa or exponent character: blanks inside a token
// read as zeros. Anything else gives a value above 9.
constexpr unsigned digit_value(unsigned char c) {
  return c == ' ' ? 0U : static_cast<unsigned>(c) - unsigned{'0'};
}

bool scan_exponent(const char* p, const char* end, bool negative, DecimalDigits& digits) {
  int magnitude = 0;
  int significant = 0;
  for (; !ends_token(p, end); ++p) {
    const unsigned value = digit_value(static_cast<unsigned char>(*p));
    if (value > 9) return false;
    if (significant == 0 && value == 0) continue;
    if (significant == EXPONENT_DIGITS) {
      digits.exponent_out_of_range = true;
      continue;
    }
    magnitude = magnitude * 10 + static_cast<int>(value);
    ++significant;
  }
  digits.exponent = negative ? -magnitude : magnitude;
  return true;
}

constexpr int bit_length(Uint128 x) {
  const std::uint64_t high = high_64(x);
  return high != 0 ? 128 - std::countl_zero(high) : 64 - std::countl_zero(low_64(x));
}

// x >> count for 1 <= count <= 128, low 64 bits of the result.
constexpr std::uint64_t shifted_right(Uint128 x, int count) {
  return count >= 128 ? 0 : low_64(x >> count);
}

// Bit 0 <= position < 128.
constexpr bool bit_at(Uint128 x, int position) { return ((x >> position) & 1U) != 0; }

// Any bit below position (0 <= position <= 128) set?
constexpr bool any_bit_below(Uint128 x, int position) {
  if (position >= 128) return x != 0;
  return (x & ((Uint128{1} << position) - 1)) != 0;
}

// The kept digits as an integer, for at most 19 of them (below 2^64).
std::uint64_t small_digit_integer(const DecimalDigits& digits) {
  const int count = digits.kept_count;
  if (count <= GROUP_DIGITS) return digits.groups[0];
  const std::uint64_t head =
      digits.groups[0] * INTEGER_POWERS[static_cast<std::size_t>(std::min(count, 2 * GROUP_DIGITS) -
                                                                 GROUP_DIGITS)] +
      digits.groups[1];
  if (count <= 2 * GROUP_DIGITS) return head;
  return head * INTEGER_POWERS[static_cast<std::size_t>(count - 2 * GROUP_DIGITS)] +
         digits.groups[2];
}

// The kept digits as an integer, below 10^27 < 2^90.
Uint128 digit_integer(const DecimalDigits& digits) {
  const int count = digits.kept_count;
  if (count <= 2 * GROUP_DIGITS) return small_digit_integer(digits);
  const std::uint64_t head = digits.groups[0] * INTEGER_POWERS[GROUP_DIGITS] + digits.groups[1];
  return multiply_64(head, INTEGER_POWERS[static_cast<std::size_t>(count - 2 * GROUP_DIGITS)]) +
         digits.groups[2];
}

// The exact ways: D is an exact double and at most one further operation
// rounds, so the result is the nearest double, ties to even. False when none
// applies.
bool round_exact_case(const DecimalDigits& digits, int exponent, double& magnitude) {
  const int count = digits.kept_count;
  if (count <= 15) {
    // Below 10^15 < 2^53: exact.
    const auto integer =
        static_cast<double>(static_cast<std::int64_t>(small_digit_integer(digits)));
    if (exponent >= -22 && exponent <= 22) {
      magnitude = exponent >= 0 ? integer * EXACT_POWERS[static_cast<std::size_t>(exponent)]
                                : integer / EXACT_POWERS[static_cast<std::size_t>(-exponent)];
      return true;
    }
    if (exponent > 22 && exponent <= 37 - count) {
      // Padding to 15 digits stays below 2^53, so only the second product rounds.
      magnitude = integer * EXACT_POWERS[static_cast<std::size_t>(15 - count)] *
                  EXACT_POWERS[static_cast<std::size_t>(exponent - 15 + count)];
      return true;
    }
    return false;
  }
  if (count > 20) return false;
  if (exponent == 0 && count <= 18) {
    // Below 10^18 < 2^63: the conversion rounds once, to nearest.
    magnitude = static_cast<double>(static_cast<std::int64_t>(small_digit_integer(digits)));
    return true;
  }
  if (exponent < -22 || exponent > 22) return false;
  const Uint128 wide = digit_integer(digits);
  if (high_64(wide) != 0) return false;
  const std::uint64_t low = low_64(wide);
  // At most 53 significant bits: D is an exact double.
  if (64 - std::countl_zero(low) - std::countr_zero(low) > 53) return false;
  const auto integer = static_cast<double>(low);
  magnitude = exponent >= 0 ? integer * EXACT_POWERS[static_cast<std::size_t>(exponent)]
                            : integer / EXACT_POWERS[static_cast<std::size_t>(-exponent)];
  return true;
}

// 10^exponent with a 64-bit significand: a fine entry, or a coarse entry
// times an exact fine one, rounded to its leading 64 bits (to nearest, up on
// an exact half).
BinaryPower power_of_ten(int exponent) {
  if (exponent >= FINE_LOWEST && exponent <= FINE_HIGHEST) {
    return FINE_POWERS[static_cast<std::size_t>(exponent - FINE_LOWEST)];
  }
  const auto after = std::upper_bound(COARSE_EXPONENTS.begin(), COARSE_EXPONENTS.end(), exponent);
  const auto index = static_cast<std::size_t>(after - COARSE_EXPONENTS.begin()) - 1;
  const BinaryPower coarse = COARSE_POWERS[index];
  const BinaryPower fine =
      FINE_POWERS[static_cast<std::size_t>(exponent - COARSE_EXPONENTS[index] - FINE_LOWEST)];
  const Uint128 product = multiply_64(coarse.significand, fine.significand);
  const std::uint64_t high = high_64(product);
  const std::uint64_t low = low_64(product);
  const int exponent_sum = coarse.exponent + fine.exponent;
  // Both factors are at least 2^63, so the product has 127 or 128 bits.
  if ((high >> 63) != 0) return rounded_up_by(high, (low >> 63) != 0, exponent_sum + 64);
  return rounded_up_by((high << 1) | (low >> 63), ((low >> 62) & 1U) != 0, exponent_sum + 63);
}

// Rounds x * 2^exponent (x not zero) to a double: 53 significant bits, or the
// multiples of 2^-1074 below 2^-1022; to nearest, ties to even, the tail mark
// acting as a sticky bit. False beyond the largest finite double.
bool round_binary(Uint128 x, int exponent, bool tail, double& magnitude) {
  const int top = exponent + bit_length(x) - 1;  // x * 2^exponent lies in [2^top, 2^(top+1))
  int quantum = std::max(top - 52, -1074);       // the result is a multiple of 2^quantum
  const int drop = quantum - exponent;
  std::uint64_t significand = 0;
  if (drop <= 0) {
    significand = low_64(x) << -drop;  // at most 53 bits: exact
  } else if (drop <= 128) {
    significand = shifted_right(x, drop);
    const bool round_bit = bit_at(x, drop - 1);
    const bool sticky = tail || any_bit_below(x, drop - 1);
    if (round_bit && (sticky || (significand & 1U) != 0)) ++significand;
  }
  if (significand == std::uint64_t{1} << 53) {
    significand >>= 1;
    ++quantum;
  }
  if (quantum > 1023 - 52) return false;
  // A normal significand carries its hidden bit into the exponent field;
  // a subnormal one has quantum -1074 and an exponent field of zero.
  magnitude =
      std::bit_cast<double>((static_cast<std::uint64_t>(quantum + 1074) << 52) + significand);
  return true;
}

// The long-token way: exact integer products with two intermediate roundings.
// It agrees with the nearest double except very near a midpoint.
bool round_general_case(const DecimalDigits& digits, int exponent, double& magnitude) {
  const Uint128 integer = digit_integer(digits);
  if (exponent == 0) return round_binary(integer, 0, digits.tail, magnitude);
  const std::uint64_t high = high_64(integer);
  const std::uint64_t low = low_64(integer);
  BinaryPower rounded{low, 0};
  if (high != 0) {
    const int drop = 64 - std::countl_zero(high);  // 1..26
    rounded =
        rounded_up_by((high << (64 - drop)) | (low >> drop), ((low >> (drop - 1)) & 1U) != 0, drop);
  }
  const BinaryPower power = power_of_ten(exponent);
  return round_binary(multiply_64(rounded.significand, power.significand),
                      rounded.exponent + power.exponent, digits.tail, magnitude);
}

}  // namespace

bool scan_decimal_digits(std::string_view token, DecimalDigits& digits) {
  digits = DecimalDigits{};
  const char* p = token.data();
  const char* end = p + token.size();
  while (end != p && end[-1] == ' ') --end;
  while (p != end && is_leading_space(static_cast<unsigned char>(*p))) ++p;
  if (p == end) return true;

  if (*p == '+') {
    digits.plus_written = true;
    ++p;
  } else if (*p == '-') {
    digits.negative = true;
    ++p;
  }
  if (p != end && (lower_case(*p) == 'i' || lower_case(*p) == 'n')) {
    return scan_word(p, end, digits);
  }

  // The digit state stays in locals: a store through digits could alias the
  // characters and force them to be reread.
  bool after_point = false;
  bool digit_written = false;
  bool tail = false;
  int kept = 0;
  std::int64_t dropped = 0;
  std::int64_t fraction = 0;
  std::uint32_t group = 0;
  std::size_t group_index = 0;
  for (; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const unsigned value = digit_value(c);
    if (value > 9) {
      if (c != '.') break;
      if (after_point) return false;
      after_point = true;
      continue;
    }
    digit_written = true;
    fraction += after_point ? 1 : 0;
    if (kept == 0 && value == 0) continue;  // leading zero
    if (kept == KEPT_DIGITS) {
      ++dropped;
      tail = tail || value != 0;
      continue;
    }
    group = group * 10 + value;
    if (++kept % GROUP_DIGITS == 0) {
      digits.groups[group_index++] = group;
      group = 0;
    }
  }
  if (kept % GROUP_DIGITS != 0) digits.groups[group_index] = group;
  digits.digit_written = digit_written;
  digits.tail = tail;
  digits.kept_count = kept;
  digits.dropped_count = dropped;
  digits.fraction_count = fraction;

  if (ends_token(p, end)) return true;
  const unsigned char c = lower_case(*p);
  if (c == 'e' || c == 'd' || c == 'q') {
    ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
      negative = *p == '-';
      ++p;
    }
    return scan_exponent(p, end, negative, digits);
  }
  // A bare sign introduces the exponent, even with no digit before it.
  if (*p == '+' || *p == '-') return scan_exponent(p + 1, end, *p == '-', digits);
  return false;
}

bool round_to_double(const DecimalDigits& digits, double& value) {
  constexpr double INFINITE = std::numeric_limits<double>::infinity();
  switch (digits.kind) {
    case DecimalDigits::Kind::INFINITE:
      value = digits.negative ? -INFINITE : INFINITE;
      return true;
    case DecimalDigits::Kind::NOT_A_NUMBER:
      value = std::bit_cast<double>(digits.plus_written ? PLUS_NAN_BITS : NAN_BITS);
      return true;
    case DecimalDigits::Kind::NUMBER:
      break;
  }
  const double signed_zero = digits.negative ? -0.0 : 0.0;
  if (digits.kept_count == 0) {
    // "-0" is negative zero, a bare "-" is not.
    value = digits.digit_written ? signed_zero : 0.0;
    return true;
  }
  if (digits.exponent_out_of_range) {
    if (digits.exponent > 0) return false;
    value = signed_zero;
    return true;
  }
  // The value is D * 10^exponent, a little more with the tail mark, and lies
  // in [10^(magnitude-1), 10^magnitude).
  const std::int64_t exponent = digits.exponent - digits.fraction_count + digits.dropped_count;
  const std::int64_t magnitude = exponent + digits.kept_count;
  if (magnitude > HIGHEST_MAGNITUDE) return false;
  if (magnitude < LOWEST_MAGNITUDE) {
    value = signed_zero;
    return true;
  }
  double result = 0.0;
  if (!round_exact_case(digits, static_cast<int>(exponent), result) &&
      !round_general_case(digits, static_cast<int>(exponent), result)) {
    return false;
  }
  value = digits.negative ? -result : result;
  return true;
}

namespace {

// A run of digits appended to an integer, modulo 2^64.
struct DigitRun {
  const char* after;  // the first character that is not a digit
  std::uint64_t integer;
};

// Appends the digits from p on to integer.
DigitRun take_digits(const char* p, const char* end, std::uint64_t integer) {
  for (; p != end; ++p) {
    const unsigned value_of_digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (value_of_digit > 9) break;
    integer = integer * 10 + value_of_digit;
  }
  return {p, integer};
}

}  // namespace

// Only the plain form is read here; every other character sends the token to
// the full way, so blanks, NUL, words, Q and bare-sign exponents, and all
// failures are decided there alone. Within the plain form the full way keeps
// every digit (at most 19 < 27), so the digit integer D and the net exponent
// are the ones computed here; D < 10^15 means at most 15 significant digits,
// and with the net exponent within +-22 the full way takes its first exact
// case: one multiply or divide of the exact double D by an exact power.
const char* parse_plain_prefix(const char* p, const char* end, double& value) {
  if (p == end || *p == ' ') return nullptr;
  // Signs, like the lengths below, vary from token to token: they are taken
  // without a branch that could be mispredicted.
  const bool negative = *p == '-';
  p += negative || *p == '+' ? 1 : 0;

  // More than 19 digits wrap harmlessly before the count rejects them.
  DigitRun run = take_digits(p, end, 0);
  std::ptrdiff_t digit_count = run.after - p;
  p = run.after;
  std::ptrdiff_t fraction = 0;
  if (p != end && *p == '.') {
    ++p;
    run = take_digits(p, end, run.integer);
    fraction = run.after - p;
    p = run.after;
    digit_count += fraction;
  }
  if (digit_count == 0 || digit_count > 19) return nullptr;

  int exponent = 0;
  if (p != end && *p != ' ') {
    const unsigned char letter = lower_case(*p);
    if (letter != 'e' && letter != 'd') return nullptr;
    ++p;
    if (p == end || *p == ' ') return nullptr;  // "1E": the full way
    const bool exponent_negative = *p == '-';
    p += exponent_negative || *p == '+' ? 1 : 0;
    if (p == end || *p == ' ') return nullptr;  // "1E+": the full way
    for (; p != end && *p != ' '; ++p) {
      const unsigned value_of_digit = static_cast<unsigned char>(*p) - unsigned{'0'};
      if (value_of_digit > 9) return nullptr;
      // Held at 10^4 or more once there: far beyond +-22 in any case.
      if (exponent < 10000) exponent = exponent * 10 + static_cast<int>(value_of_digit);
    }
    if (exponent_negative) exponent = -exponent;
  }

  constexpr std::uint64_t FIFTEEN_DIGITS = 1'000'000'000'000'000;
  const std::ptrdiff_t net = exponent - fraction;
  if (run.integer >= FIFTEEN_DIGITS || net < -22 || net > 22) return nullptr;
  // Below 10^15 < 2^53: exact.
  const auto magnitude = static_cast<double>(static_cast<std::int64_t>(run.integer));
  const double result = net >= 0 ? magnitude * EXACT_POWERS[static_cast<std::size_t>(net)]
                                 : magnitude / EXACT_POWERS[static_cast<std::size_t>(-net)];
  // The same as -result when negative.
  value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(result) ^
                                (static_cast<std::uint64_t>(negative) << 63));
  return p;
}

bool parse_plain_coordinate(std::string_view token, double& value) {
  const char* const end = token.data() + token.size();
  double result = 0.0;
  // A blank inside the token (read as a digit 0) is for the full way.
  if (parse_plain_prefix(token.data(), end, result) != end) return false;
  value = result;
  return true;
}

namespace {

// The full way, kept out of the short way's frame.
bool parse_any_coordinate(std::string_view token, double& value) {
  DecimalDigits digits;
  double result = 0.0;
  if (!scan_decimal_digits(token, digits) || !round_to_double(digits, result)) return false;
  value = result;
  return true;
}

}  // namespace

bool parse_coordinate(std::string_view token, double& value) {
  return parse_plain_coordinate(token, value) || parse_any_coordinate(token, value);
}

}  // namespace reading
