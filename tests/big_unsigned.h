// Exact arithmetic for the checks of the coordinate reader (its tests and
// its fuzz target): an unsigned integer of any size, in 32-bit limbs, least
// significant first, and the midpoint test built on it. Slow and simple, so
// that it can be trusted.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class BigUnsigned {
 public:
  BigUnsigned() = default;
  explicit BigUnsigned(std::uint64_t value) {
    while (value != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(value));
      value >>= 32;
    }
  }

  static BigUnsigned from_decimal(std::string_view digits) {
    BigUnsigned result;
    for (const char c : digits) {
      result.multiply_add(10, static_cast<std::uint32_t>(c - '0'));
    }
    return result;
  }

  static BigUnsigned power_of_five(int n) {
    BigUnsigned result(1);
    for (int i = 0; i < n; ++i) result.multiply_add(5, 0);
    return result;
  }

  void multiply_add(std::uint32_t factor, std::uint32_t addend) {
    std::uint64_t carry = addend;
    for (auto& limb : limbs_) {
      const std::uint64_t value = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(value);
      carry = value >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    trim();
  }

  // Divides by divisor and returns the remainder.
  std::uint32_t divide(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      const std::uint64_t value = (remainder << 32) | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(value / divisor);
      remainder = value % divisor;
    }
    trim();
    return static_cast<std::uint32_t>(remainder);
  }

  friend BigUnsigned operator*(const BigUnsigned& a, const BigUnsigned& b) {
    BigUnsigned result;
    result.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
    for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
        const std::uint64_t value =
            std::uint64_t{a.limbs_[i]} * b.limbs_[j] + result.limbs_[i + j] + carry;
        result.limbs_[i + j] = static_cast<std::uint32_t>(value);
        carry = value >> 32;
      }
      result.limbs_[i + b.limbs_.size()] = static_cast<std::uint32_t>(carry);
    }
    result.trim();
    return result;
  }

  BigUnsigned shifted_left(int count) const {
    BigUnsigned result;
    result.limbs_.assign(static_cast<std::size_t>(count / 32), 0);
    std::uint32_t carry = 0;
    const int bits = count % 32;
    for (const auto limb : limbs_) {
      result.limbs_.push_back(bits == 0 ? limb : (limb << bits) | carry);
      carry = bits == 0 ? 0 : limb >> (32 - bits);
    }
    result.limbs_.push_back(carry);
    result.trim();
    return result;
  }

  BigUnsigned shifted_right(int count) const {
    BigUnsigned result;
    const auto skipped = static_cast<std::size_t>(count / 32);
    const int bits = count % 32;
    for (std::size_t i = skipped; i < limbs_.size(); ++i) {
      std::uint64_t value = limbs_[i] >> bits;
      if (bits != 0 && i + 1 < limbs_.size()) value |= std::uint64_t{limbs_[i + 1]} << (32 - bits);
      result.limbs_.push_back(static_cast<std::uint32_t>(value));
    }
    result.trim();
    return result;
  }

  int bit_length() const {
    if (limbs_.empty()) return 0;
    return static_cast<int>(limbs_.size() - 1) * 32 +
           static_cast<int>(std::bit_width(limbs_.back()));
  }

  bool bit(int position) const {
    const auto index = static_cast<std::size_t>(position / 32);
    return index < limbs_.size() && ((limbs_[index] >> (position % 32)) & 1U) != 0;
  }

  bool any_bit_below(int position) const {
    for (int i = 0; i < position; ++i) {
      if (bit(i)) return true;
    }
    return false;
  }

  bool is_zero() const { return limbs_.empty(); }

  std::uint64_t low_64() const {
    std::uint64_t value = 0;
    if (!limbs_.empty()) value = limbs_[0];
    if (limbs_.size() > 1) value |= std::uint64_t{limbs_[1]} << 32;
    return value;
  }

  std::string to_decimal() const {
    BigUnsigned rest = *this;
    std::string digits;
    while (!rest.is_zero()) {
      std::uint32_t chunk = rest.divide(1000000000);
      for (int i = 0; i < 9; ++i, chunk /= 10)
        digits.push_back(static_cast<char>('0' + chunk % 10));
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    if (digits.empty()) digits = "0";
    std::reverse(digits.begin(), digits.end());
    return digits;
  }

  friend int compare(const BigUnsigned& a, const BigUnsigned& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

  // |a - b|
  friend BigUnsigned distance(const BigUnsigned& a, const BigUnsigned& b) {
    const bool a_larger = compare(a, b) >= 0;
    const BigUnsigned& large = a_larger ? a : b;
    const BigUnsigned& small = a_larger ? b : a;
    BigUnsigned result = large;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < result.limbs_.size(); ++i) {
      std::int64_t value = std::int64_t{result.limbs_[i]} - borrow -
                           (i < small.limbs_.size() ? std::int64_t{small.limbs_[i]} : 0);
      borrow = value < 0 ? 1 : 0;
      if (value < 0) value += std::int64_t{1} << 32;
      result.limbs_[i] = static_cast<std::uint32_t>(value);
    }
    result.trim();
    return result;
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

  std::vector<std::uint32_t> limbs_;  // least significant first, no zero limb on top
};

// Whether digits * 10^exponent lies within 2^-log2_fraction units in the last
// place of the midpoint between low and the next double above it.
inline bool lies_near_midpoint(std::string_view digits, int exponent, double low,
                               int log2_fraction) {
  const auto bits = std::bit_cast<std::uint64_t>(low);
  const std::uint64_t field = bits >> 52;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t significand = field == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int quantum = field == 0 ? -1074 : static_cast<int>(field) - 1075;
  // midpoint (2 significand + 1) * 2^(quantum - 1), unit 2^quantum; all
  // three scaled by 5^five * 2^shift to integers.
  const int five = std::max(0, -exponent);
  const int shift = std::max({0, -exponent, 1 - quantum});
  const BigUnsigned value =
      (BigUnsigned::from_decimal(digits) * BigUnsigned::power_of_five(exponent + five))
          .shifted_left(exponent + shift + log2_fraction);
  const BigUnsigned midpoint = (BigUnsigned(2 * significand + 1) * BigUnsigned::power_of_five(five))
                                   .shifted_left(quantum - 1 + shift + log2_fraction);
  const BigUnsigned unit = BigUnsigned::power_of_five(five).shifted_left(quantum + shift);
  return compare(distance(value, midpoint), unit) < 0;
}

}  // namespace testing_support
