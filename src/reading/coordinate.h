// Conversion of one coordinate token of a vertex line to a double.
//
// The accepted syntax is wider than the usual one: exponent letters E, D and
// Q in either case, or a bare sign ("1.5+3" is 1500.0); INF, INFINITY and
// NAN(...) words; a token without digits reads as zero. A NUL ends the token.
//
// The work is split in two: scan_decimal_digits reads the characters into a
// DecimalDigits record without any arithmetic, round_to_double turns the
// record into the double.
//
// What value a token gets. The output side is exact: every field shows the
// digits of the stored double, correctly rounded. The input side follows a
// fixed procedure instead, which is part of the format and reproduced bit
// for bit:
// - A token whose digit integer and power of ten are exact doubles (at most
//   20 digits, the cases of round_exact_case in the .cpp) gives the nearest
//   double, ties to even, since only one operation rounds.
// - Every other token keeps its first 27 significant digits (later ones
//   count only as "something follows"). With a net power of ten of 10^0
//   their integer is rounded to the double directly; otherwise it is
//   rounded to 64 bits, multiplied by a 64-bit power of ten rounded to
//   nearest (for far exponents itself a rounded product of two table
//   entries), and the product is rounded to the double.
// The result is the nearest double, except when the decimal value lies
// within 2^-10 units in the last place of the midpoint between two doubles:
// there it may be the other of the two. For example 8.427724e-131 reads as
// 0x24EDE8FEC57FB91F, while the nearest double is 0x24EDE8FEC57FB91E. This
// is intended and stays: the procedure, not the nearest double, defines the
// value a coordinate gets.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace reading {

// What a token says, before any rounding.
struct DecimalDigits {
  enum class Kind : std::uint8_t { NUMBER, INFINITE, NOT_A_NUMBER };

  Kind kind = Kind::NUMBER;
  bool negative = false;       // "-" written before the number or word
  bool plus_written = false;   // "+" written there; decides the sign bit of a NaN
  bool digit_written = false;  // any mantissa digit, zeros included
  // The first 27 significant digits, nine to a group; the last group in use
  // holds the remaining kept_count % 9 digits (or nine). Leading zeros are not
  // significant; every later digit is, trailing zeros included.
  std::array<std::uint32_t, 3> groups{};
  int kept_count = 0;                  // significant digits held in groups, 0..27
  std::int64_t dropped_count = 0;      // significant digits after the 27th
  bool tail = false;                   // a dropped digit is not zero
  std::int64_t fraction_count = 0;     // digits after the decimal point, leading zeros included
  int exponent = 0;                    // written exponent, at most 6 significant digits
  bool exponent_out_of_range = false;  // a 7th significant exponent digit; exponent keeps the sign
};

// Reads the token into digits; false when its characters do not form a number
// or a word.
[[nodiscard]] bool scan_decimal_digits(std::string_view token, DecimalDigits& digits);

// The value of the digits, rounded; false on overflow. Underflow gives a
// subnormal or zero.
[[nodiscard]] bool round_to_double(const DecimalDigits& digits, double& value);

// The short way for what writers print: [sign] digits [. digits]
// [E|e|D|d [sign] digits], nothing else and nothing around it, at most 19
// digits, a digit integer below 10^15 and a net power of ten within +-22.
// Sets value and returns true for such a token; returns false, leaving value
// unchanged, for any other token, which then needs the full way. Where it
// answers, the answer is the one of scan_decimal_digits and round_to_double.
[[nodiscard]] bool parse_plain_coordinate(std::string_view token, double& value);

// The short way on a token that ends at the first blank of [text, end) or at
// end: returns where the token ends when the short way answers for it, and
// nullptr otherwise (value unchanged). Lets the scanner find a token's end
// and convert it in one pass.
[[nodiscard]] const char* parse_plain_prefix(const char* text, const char* end, double& value);

// Converts the token; returns false on a syntax failure or an overflow, and
// then leaves value unchanged. Underflow is not a failure.
[[nodiscard]] bool parse_coordinate(std::string_view token, double& value);

}  // namespace reading
