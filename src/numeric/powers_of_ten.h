// Powers of ten as 64-bit binary significands, computed by the compiler
// from exact integers (numeric/big_integer.h). Two users need them rounded
// differently:
//
// - The coordinate reader multiplies by powers rounded to nearest, fine
//   ones for the common exponents and coarse ones to reach the rest.
// - The field renderers need powers that are never rounded up, so that the
//   true value of a scaled double is known to lie above the product, never
//   below it; their table is truncated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "numeric/big_integer.h"

namespace numeric {

// significand * 2^exponent, the significand in [2^63, 2^64).
struct BinaryPower {
  std::uint64_t significand;
  int exponent;
};

// Adds the round bit to a 64-bit significand; a carry out renormalises.
constexpr BinaryPower rounded_up_by(std::uint64_t significand, bool round_bit, int exponent) {
  if (round_bit && ++significand == 0) return {std::uint64_t{1} << 63, exponent + 1};
  return {significand, exponent};
}

// An odd number never ends in binary 10...0 below its top 65 bits, and no
// power of five has exactly 65 bits, so a positive power of ten is never a
// tie; nor is a negative one, whose binary digits never end.
constexpr BinaryPower nearest_power(const LeadingBits& bits) {
  if (bits.next_bit && !bits.rest_nonzero) throw "tie";  // stops the compilation
  return rounded_up_by(bits.leading, bits.next_bit, bits.exponent);
}

// ---------------------------------------------------------------------------
// Rounded to nearest, for the coordinate reader.

// Fine table: every 10^k, FINE_LOWEST <= k <= FINE_HIGHEST (exact for 0..27,
// since 5^27 < 2^64).
inline constexpr int FINE_LOWEST = -47;
inline constexpr int FINE_HIGHEST = 47;

// Coarse table: a few powers; 10^E outside the fine range is the product of
// the coarse entry for the largest j <= E and the fine entry for E - j, which
// is one of the exact ones (0 <= E - j <= 27).
inline constexpr std::array<int, 24> COARSE_EXPONENTS = {
    -367, -342, -314, -289, -261, -233, -210, -184, -157, -132, -104, -81,
    -53,  27,   55,   77,   105,  133,  161,  188,  214,  242,  269,  297};

// Entry k - FINE_LOWEST is 10^k.
inline constexpr std::array<BinaryPower, static_cast<std::size_t>(FINE_HIGHEST - FINE_LOWEST + 1)>
    FINE_POWERS = [] {
      constexpr auto bits = leading_bits_of_powers_of_ten<FINE_LOWEST, FINE_HIGHEST>();
      std::array<BinaryPower, static_cast<std::size_t>(FINE_HIGHEST - FINE_LOWEST + 1)> table{};
      for (std::size_t i = 0; i < table.size(); ++i) table[i] = nearest_power(bits[i]);
      return table;
    }();

// Entry i is 10^COARSE_EXPONENTS[i].
inline constexpr std::array<BinaryPower, COARSE_EXPONENTS.size()> COARSE_POWERS = [] {
  std::array<BinaryPower, COARSE_EXPONENTS.size()> table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i] = nearest_power(leading_bits_of_power_of_ten(COARSE_EXPONENTS[i]));
  }
  return table;
}();

// ---------------------------------------------------------------------------
// Truncated, for the field renderers: 10^k = (significand + delta) *
// 2^exponent with 0 <= delta < 1, exact (delta = 0) for 0 <= k <= 27.
//
// A renderer scales a double to d significant digits by 10^k with
// k = d - 1 - floor(log10 of the value), the floor estimated from the
// binary exponent. For d from 1 to 15 (beyond 15 digits the last digit's
// unit no longer fits the product as the renderers need), k runs from 1 - 1 - 307 for the largest
// doubles (below 2^1024, the estimate is at most 307) to 15 - 1 + 324 for the smallest subnormal
// (4.9 * 10^-324, estimate -324).
inline constexpr int TRUNCATED_LOWEST = -307;
inline constexpr int TRUNCATED_HIGHEST = 15 - 1 + 324;

// Entry k - TRUNCATED_LOWEST is 10^k.
inline constexpr std::array<BinaryPower,
                            static_cast<std::size_t>(TRUNCATED_HIGHEST - TRUNCATED_LOWEST + 1)>
    TRUNCATED_POWERS = [] {
      constexpr auto bits = leading_bits_of_powers_of_ten<TRUNCATED_LOWEST, TRUNCATED_HIGHEST>();
      std::array<BinaryPower, static_cast<std::size_t>(TRUNCATED_HIGHEST - TRUNCATED_LOWEST + 1)>
          table{};
      for (std::size_t i = 0; i < table.size(); ++i) table[i] = {bits[i].leading, bits[i].exponent};
      return table;
    }();

static_assert(TRUNCATED_POWERS[0 - TRUNCATED_LOWEST].significand == std::uint64_t{1} << 63);
static_assert(TRUNCATED_POWERS[0 - TRUNCATED_LOWEST].exponent == -63);
static_assert(TRUNCATED_POWERS[1 - TRUNCATED_LOWEST].significand == std::uint64_t{10} << 60);
// 10^-1 = 0.1100110011..._2 * 2^-3: the pattern 0xC...C, truncated (the
// nearest would end in D).
static_assert(TRUNCATED_POWERS[-1 - TRUNCATED_LOWEST].significand == 0xCCCCCCCCCCCCCCCCu);
static_assert(TRUNCATED_POWERS[-1 - TRUNCATED_LOWEST].exponent == -67);
static_assert(FINE_POWERS[-1 - FINE_LOWEST].significand == 0xCCCCCCCCCCCCCCCDu);

}  // namespace numeric
