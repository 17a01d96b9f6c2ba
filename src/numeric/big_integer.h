// Exact unsigned integers of a few hundred bits, for building tables of
// powers of ten at compile time: no table is typed in or generated outside
// the build, and every entry follows from exact arithmetic.
//
// 10^k = 5^k * 2^k, so only the power of five needs wide arithmetic. For
// k >= 0 that is 5^k itself; for k < 0 it is 2^959 / 5^-k, computed by
// dividing 2^959 by five again and again. Rounding down at every step gives
// the exact floor, as floor(floor(x) / 5) = floor(x / 5), and the floor has
// so many bits that its leading 65 are those of the exact quotient.
//
// Compilers bound the work of one constant evaluation (clang: about a
// million steps), so a table of many entries is built in one sweep, each
// entry one multiplication or division away from the one before, and the
// loops stop at the limbs in use.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace numeric {

// An unsigned integer of 32 * LIMBS bits, least significant limb first;
// the limbs from used_ on are zero.
class BigInteger {
 public:
  // Holds 2^959, the dividend of the reciprocals. 5^367, the largest power
  // of five a table uses, is below 2^853, so every quotient keeps more than
  // 100 bits, and every power up to it fits.
  static constexpr std::size_t LIMBS = 30;
  static constexpr int RECIPROCAL_SHIFT = 32 * static_cast<int>(LIMBS) - 1;

  static constexpr BigInteger power_of_two(int exponent) {
    BigInteger result;
    const auto index = static_cast<std::size_t>(exponent / 32);
    result.limbs_[index] = std::uint32_t{1} << (exponent % 32);
    result.used_ = index + 1;
    return result;
  }

  // An overflow throws, which stops the compilation of a table.
  constexpr void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < used_; ++i) {
      const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) {
      if (used_ == LIMBS) throw "big integer overflow";
      limbs_[used_++] = static_cast<std::uint32_t>(carry);
    }
  }

  // Divides in place, rounding down.
  constexpr void divide(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (std::size_t i = used_; i-- > 0;) {
      const std::uint64_t dividend = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(dividend / divisor);
      remainder = dividend % divisor;
    }
    while (used_ > 1 && limbs_[used_ - 1] == 0) --used_;
  }

  constexpr int bit_length() const {
    return 32 * static_cast<int>(used_ - 1) + static_cast<int>(std::bit_width(limbs_[used_ - 1]));
  }

  // The bits [from, from + 64) as an integer; bits below 0 read as zero.
  constexpr std::uint64_t bits_from(int from) const {
    std::uint64_t result = 0;
    for (std::size_t i = 0; i < used_; ++i) {
      const int position = 32 * static_cast<int>(i) - from;  // of the limb's lowest bit
      if (position >= 64 || position <= -32) continue;
      const std::uint64_t value = limbs_[i];
      result |= position >= 0 ? value << position : value >> -position;
    }
    return result;
  }

  constexpr bool bit(int position) const {
    if (position < 0) return false;
    return ((limb_at(position / 32) >> (position % 32)) & 1U) != 0;
  }

  constexpr bool any_bit_below(int position) const {
    if (position <= 0) return false;
    const auto whole = static_cast<std::size_t>(position / 32);
    for (std::size_t i = 0; i < whole && i < used_; ++i) {
      if (limbs_[i] != 0) return true;
    }
    const std::uint32_t partial_mask = (std::uint32_t{1} << (position % 32)) - 1;
    return (limb_at(position / 32) & partial_mask) != 0;
  }

 private:
  constexpr std::uint32_t limb_at(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < used_
               ? limbs_[static_cast<std::size_t>(index)]
               : 0;
  }

  std::array<std::uint32_t, LIMBS> limbs_{};
  std::size_t used_ = 1;
};

// 10^k as (leading + fraction) * 2^exponent with 2^63 <= leading < 2^64 and
// 0 <= fraction < 1: leading is the exact value truncated to 64 bits,
// next_bit the first bit after them, and rest_nonzero whether any bit
// follows that one.
struct LeadingBits {
  std::uint64_t leading;
  bool next_bit;
  bool rest_nonzero;
  int exponent;
};

// five * 2^(k + scale) = 10^k (for k < 0 up to the rounding of the floor).
constexpr LeadingBits leading_bits_of(const BigInteger& five, int k, int scale) {
  const int length = five.bit_length();
  // 1/5^n has no end in binary, so a reciprocal always has bits further on,
  // whatever its floor shows.
  return {five.bits_from(length - 64), five.bit(length - 65),
          k < 0 || five.any_bit_below(length - 65), k + scale + length - 64};
}

// The leading bits of 10^LOWEST .. 10^HIGHEST, entry k - LOWEST for 10^k.
template <int LOWEST, int HIGHEST>
constexpr auto leading_bits_of_powers_of_ten() {
  static_assert(LOWEST <= HIGHEST);
  std::array<LeadingBits, static_cast<std::size_t>(HIGHEST - LOWEST + 1)> table{};
  if constexpr (HIGHEST >= 0) {
    BigInteger five = BigInteger::power_of_two(0);
    for (int k = 0; k <= HIGHEST; ++k) {
      if (k >= LOWEST) table[static_cast<std::size_t>(k - LOWEST)] = leading_bits_of(five, k, 0);
      five.multiply(5);
    }
  }
  if constexpr (LOWEST < 0) {
    BigInteger reciprocal = BigInteger::power_of_two(BigInteger::RECIPROCAL_SHIFT);
    for (int k = -1; k >= LOWEST; --k) {
      reciprocal.divide(5);
      if (k <= HIGHEST) {
        table[static_cast<std::size_t>(k - LOWEST)] =
            leading_bits_of(reciprocal, k, -BigInteger::RECIPROCAL_SHIFT);
      }
    }
  }
  return table;
}

// The leading bits of 10^k alone.
constexpr LeadingBits leading_bits_of_power_of_ten(int k) {
  // The largest power of five in 32 bits: 13 factors of five at a time.
  constexpr std::uint32_t FIVE_TO_13 = 1'220'703'125;
  const int five_exponent = k < 0 ? -k : k;
  if (k >= 0) {
    BigInteger five = BigInteger::power_of_two(0);
    for (int n = five_exponent; n >= 13; n -= 13) five.multiply(FIVE_TO_13);
    for (int n = five_exponent % 13; n > 0; --n) five.multiply(5);
    return leading_bits_of(five, k, 0);
  }
  BigInteger reciprocal = BigInteger::power_of_two(BigInteger::RECIPROCAL_SHIFT);
  for (int n = five_exponent; n >= 13; n -= 13) reciprocal.divide(FIVE_TO_13);
  for (int n = five_exponent % 13; n > 0; --n) reciprocal.divide(5);
  return leading_bits_of(reciprocal, k, -BigInteger::RECIPROCAL_SHIFT);
}

}  // namespace numeric
