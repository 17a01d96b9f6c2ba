#include "format/significant_digits.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>

#include "format/digit_chars.h"
#include "numeric/digit_tables.h"
#include "numeric/wide_multiply.h"

namespace format {
namespace {

using numeric::BinaryPower;
using numeric::INTEGER_POWERS;
using numeric::TRUNCATED_LOWEST;
using numeric::TRUNCATED_POWERS;
using numeric::Uint128;

// A decimal approximation digits * 10^(exponent - count): with `count`
// digits, 10^(count-1) <= digits < 10^count, the value is 0.d1d2... * 10^exponent.
struct Rounded {
  std::uint64_t digits;
  int exponent;
};

// A finite nonzero double as m * 2^q with 2^52 <= m < 2^53; subnormals are
// normalised, so q goes down to -1074 - 52.
struct Binary {
  std::uint64_t m;
  int q;
};

constexpr Binary decompose(double magnitude) {
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const auto biased_exponent = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased_exponent == 0) {
    const int shift = std::countl_zero(fraction) - 11;
    return {fraction << shift, -1074 - shift};
  }
  return {fraction | std::uint64_t{1} << 52, biased_exponent - 1075};
}

// How far the product m * T of a double's m and the table significand T of
// 10^k lies above X = value * 10^k: X = m * T * 2^-shift (plus error).
constexpr int product_shift(int q, int count) {
  const int k = count - 1 - low_decimal_exponent(q);
  return -(q + TRUNCATED_POWERS[static_cast<std::size_t>(k - TRUNCATED_LOWEST)].exponent);
}

// The fast path below keeps the last digit's unit, 2^shift, inside the high
// word of the product and half of it above the low word: 65 <= shift < 128.
// (Rough bounds give only shift >= 62 for 15 digits; the exact table gives
// 66, so every binary exponent a double can have is checked here.)
constexpr bool shifts_fit_high_word() {
  for (int count = 1; count <= MAX_FAST_DIGITS; ++count) {
    for (int q = -1074 - 52; q <= 1023 - 52; ++q) {
      const int shift = product_shift(q, count);
      if (shift < 65 || shift > 127) return false;
    }
  }
  return true;
}
static_assert(shifts_fit_high_word());

// The first COUNT (1..15) significant digits of a positive finite double,
// rounded to nearest, or false when the rounding cannot be decided here.
//
// With k chosen so that X = value * 10^k lies in [10^(count-1),
// 10^(count+1)), the product P = m * T is exact in 128 bits, and
// X = (P + m * delta) * 2^-shift with 0 <= delta < 1 (see the table). So, in
// units of 2^-shift, the true X lies in [P, P + m): the remainder below the
// last kept digit can only be too small, by less than m < 2^53, while half
// a unit is at least 2^64. The digit is certainly rounded down when
// remainder + m <= half, and certainly up when remainder > half. Anything in
// between (about one value in 4000 of random bit patterns, none of
// six-digit decimals, and every exact decimal tie) is left to the exact path.
template <int COUNT>
bool round_fast(double magnitude, Rounded& result) {
  static_assert(COUNT >= 1 && COUNT <= MAX_FAST_DIGITS);
  constexpr int count = COUNT;
  const auto [m, q] = decompose(magnitude);
  const int low_exponent = low_decimal_exponent(q);
  const int k = count - 1 - low_exponent;
  const BinaryPower& power = TRUNCATED_POWERS[static_cast<std::size_t>(k - TRUNCATED_LOWEST)];
  const Uint128 product = numeric::multiply_64(m, power.significand);
  const std::uint64_t high = numeric::high_64(product);
  const std::uint64_t low = numeric::low_64(product);
  const int unit_shift = -(q + power.exponent) - 64;  // 1..63, see above
  const std::uint64_t integer = high >> unit_shift;
  std::uint64_t remainder_high = high & ((std::uint64_t{1} << unit_shift) - 1);
  // When X has count+1 digits, the last joins the remainder and the unit
  // grows tenfold.
  const bool extra_digit = integer >= INTEGER_POWERS[static_cast<std::size_t>(count)];
  const std::uint64_t tenth = integer / 10;
  const std::uint64_t last = integer - 10 * tenth;
  std::uint64_t digits = extra_digit ? tenth : integer;
  remainder_high |= extra_digit ? last << unit_shift : 0;
  const std::uint64_t half_high = std::uint64_t{extra_digit ? 10u : 1u} << (unit_shift - 1);
  const Uint128 remainder = Uint128{remainder_high} << 64 | low;
  const Uint128 half = Uint128{half_high} << 64;
  const bool round_up = remainder > half;
  const bool undecided = !round_up & (remainder + m > half);
  if (undecided) return false;
  digits += round_up;
  int exponent = low_exponent + 1 + extra_digit;
  if (digits == INTEGER_POWERS[static_cast<std::size_t>(count)]) {
    // The carry ran past the first digit: 0.999..95 becomes 0.1 * 10^1.
    digits = INTEGER_POWERS[static_cast<std::size_t>(count - 1)];
    exponent += 1;
  }
  result = {digits, exponent};
  return true;
}

// The longest exact decimal expansion of a double is that of m * 2^-1074
// with m just below 2^53 (1074 decimals, 307 of them leading zeros):
// m * 5^1074 < 10^767. Rounding to more significant digits changes nothing,
// and the digits beyond are zeros.
constexpr int MAX_SIGNIFICANT_DIGITS = 767;

// The exact way: the library conversion works on the stored binary value
// and rounds exact ties to even.
int write_exact_digits(double magnitude, int count, char* out) {
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

// Writes the COUNT digits after the point in blocks of eight from the
// right. The leading block of seven digits (7 and 15 digits, the counts with
// a fast path) is written as eight over the point's position, which the
// caller writes afterwards.
template <int COUNT>
int write_digits_fast_or_exact(double magnitude, char* out) {
  static_assert(COUNT % 8 == 7);
  Rounded rounded{};
  if (!round_fast<COUNT>(magnitude, rounded)) return write_exact_digits(magnitude, COUNT, out);
  std::uint64_t value = rounded.digits;
  char* end = out + COUNT;
  for (int block = 0; block < (COUNT + 1) / 8; ++block) {
    end -= 8;
    write_eight_digits(static_cast<std::uint32_t>(value % 100000000), end);
    value /= 100000000;
  }
  return rounded.exponent;
}

}  // namespace

int write_significant_digits(double magnitude, int count, char* out) {
  if (count == 15) return write_digits_fast_or_exact<15>(magnitude, out);
  if (count == 7) return write_digits_fast_or_exact<7>(magnitude, out);
  return write_exact_digits(magnitude, count, out);
}

}  // namespace format
