// Powers of ten as 64-bit binary significands, for the long-token way of the
// coordinate conversion. Every entry is rounded to nearest from the exact
// power; the compiler computes them from 5^n with exact wide integers, so no
// table is typed in or generated outside the build.
//
// 10^k = 5^k * 2^k, so only the power of five needs wide arithmetic: for
// k >= 0 its top 64 bits are kept, for k < 0 the top bits of 1/5^-k come from
// a binary long division of a power of two by 5^-k.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace numeric {

// significand * 2^exponent, the significand in [2^63, 2^64).
struct BinaryPower {
  std::uint64_t significand;
  int exponent;
};

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

namespace powers_detail {

// 5^367 has 853 bits.
inline constexpr std::size_t WIDE_LIMBS = 28;

// Unsigned integer of 32 * WIDE_LIMBS bits, least significant limb first;
// limbs from used on are zero. Compile-time evaluation is slow, so the loops
// stop at the used limbs.
struct WideInteger {
  std::array<std::uint32_t, WIDE_LIMBS> limbs{};
  std::size_t used = 1;
};

constexpr void multiply_in_place(WideInteger& x, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < x.used; ++i) {
    const std::uint64_t product = std::uint64_t{x.limbs[i]} * factor + carry;
    x.limbs[i] = static_cast<std::uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0) {
    if (x.used == WIDE_LIMBS) throw "wide integer overflow";  // stops the compilation
    x.limbs[x.used++] = static_cast<std::uint32_t>(carry);
  }
}

constexpr WideInteger power_of_five(int n) {
  constexpr std::uint32_t FIVE_TO_13 = 1220703125;  // the largest power of five in 32 bits
  WideInteger result;
  result.limbs[0] = 1;
  for (; n >= 13; n -= 13) multiply_in_place(result, FIVE_TO_13);
  for (; n > 0; --n) multiply_in_place(result, 5);
  return result;
}

constexpr bool bit_of(const WideInteger& x, int position) {
  const auto index = static_cast<std::size_t>(position / 32);
  return ((x.limbs[index] >> (position % 32)) & 1U) != 0;
}

constexpr int bit_length(const WideInteger& x) {
  const std::uint32_t top = x.limbs[x.used - 1];
  int length = static_cast<int>(x.used - 1) * 32;
  for (std::uint32_t rest = top; rest != 0; rest >>= 1) ++length;
  return length;
}

constexpr bool any_bit_below(const WideInteger& x, int position) {
  const auto whole = static_cast<std::size_t>(position / 32);
  for (std::size_t i = 0; i < whole; ++i) {
    if (x.limbs[i] != 0) return true;
  }
  const std::uint32_t partial_mask = (std::uint32_t{1} << (position % 32)) - 1;
  return (x.limbs[whole] & partial_mask) != 0;
}

// The comparison and subtraction look at the limbs of the divisor and one
// more, which is where the doubled remainder can reach.
constexpr bool less_than(const WideInteger& a, const WideInteger& b, std::size_t limbs) {
  for (std::size_t i = limbs; i-- > 0;) {
    if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i];
  }
  return false;
}

constexpr void subtract(WideInteger& a, const WideInteger& b, std::size_t limbs) {
  std::uint64_t borrow = 0;
  for (std::size_t i = 0; i < limbs; ++i) {
    const std::uint64_t difference = std::uint64_t{a.limbs[i]} - b.limbs[i] - borrow;
    a.limbs[i] = static_cast<std::uint32_t>(difference);
    borrow = (difference >> 32) & 1U;
  }
}

constexpr void double_in_place(WideInteger& a, std::size_t limbs) {
  std::uint32_t carry = 0;
  for (std::size_t i = 0; i < limbs; ++i) {
    const std::uint32_t next_carry = a.limbs[i] >> 31;
    a.limbs[i] = (a.limbs[i] << 1) | carry;
    carry = next_carry;
  }
  if (carry != 0) throw "wide integer overflow";
}

// Adds the round bit; a carry out of 64 bits renormalises.
constexpr BinaryPower rounded_up_by(std::uint64_t significand, bool round_bit, int exponent) {
  if (round_bit) {
    ++significand;
    if (significand == 0) return {std::uint64_t{1} << 63, exponent + 1};
  }
  return {significand, exponent};
}

constexpr BinaryPower nearest_power_of_ten(int k) {
  if (k >= 0) {
    const WideInteger five = power_of_five(k);
    const int length = bit_length(five);
    if (length <= 64) {
      std::uint64_t value = 0;
      for (int position = length - 1; position >= 0; --position) {
        value = (value << 1) | (bit_of(five, position) ? 1U : 0U);
      }
      return {value << (64 - length), k - (64 - length)};
    }
    std::uint64_t top = 0;
    for (int position = length - 1; position >= length - 64; --position) {
      top = (top << 1) | (bit_of(five, position) ? 1U : 0U);
    }
    const bool round_bit = bit_of(five, length - 65);
    // An odd number never ends in binary 10...0 below its top 65 bits, and
    // no power of five has exactly 65 bits, so there is no tie to settle.
    if (round_bit && !any_bit_below(five, length - 65)) throw "tie";
    return rounded_up_by(top, round_bit, k + length - 64);
  }
  // 2^(L+64) / 5^n with 2^(L-1) < 5^n < 2^L lies in [2^64, 2^65): its 64
  // leading quotient bits and the round bit come from 65 division steps.
  // The division never comes out even, so the round bit decides alone.
  const WideInteger divisor = power_of_five(-k);
  const int length = bit_length(divisor);
  WideInteger remainder;
  remainder.limbs[static_cast<std::size_t>((length - 1) / 32)] = std::uint32_t{1}
                                                                 << ((length - 1) % 32);
  std::uint64_t quotient = 0;
  bool round_bit = false;
  const std::size_t limbs = std::min(divisor.used + 1, WIDE_LIMBS);
  for (int step = 0; step < 65; ++step) {
    double_in_place(remainder, limbs);
    const bool quotient_bit = !less_than(remainder, divisor, limbs);
    if (quotient_bit) subtract(remainder, divisor, limbs);
    if (step < 64) {
      quotient = (quotient << 1) | (quotient_bit ? 1U : 0U);
    } else {
      round_bit = quotient_bit;
    }
  }
  // 10^k = 2^k / 5^-k ~ quotient * 2^(k - L - 63)
  return rounded_up_by(quotient, round_bit, k - length - 63);
}

constexpr std::array<BinaryPower, FINE_HIGHEST - FINE_LOWEST + 1> make_fine_powers() {
  std::array<BinaryPower, FINE_HIGHEST - FINE_LOWEST + 1> table{};
  for (int k = FINE_LOWEST; k <= FINE_HIGHEST; ++k) {
    table[static_cast<std::size_t>(k - FINE_LOWEST)] = nearest_power_of_ten(k);
  }
  return table;
}

constexpr std::array<BinaryPower, COARSE_EXPONENTS.size()> make_coarse_powers() {
  std::array<BinaryPower, COARSE_EXPONENTS.size()> table{};
  for (std::size_t i = 0; i < COARSE_EXPONENTS.size(); ++i) {
    table[i] = nearest_power_of_ten(COARSE_EXPONENTS[i]);
  }
  return table;
}

}  // namespace powers_detail

// Entry k - FINE_LOWEST is 10^k.
inline constexpr std::array<BinaryPower, FINE_HIGHEST - FINE_LOWEST + 1> FINE_POWERS =
    powers_detail::make_fine_powers();

// Entry i is 10^COARSE_EXPONENTS[i].
inline constexpr std::array<BinaryPower, COARSE_EXPONENTS.size()> COARSE_POWERS =
    powers_detail::make_coarse_powers();

}  // namespace numeric
