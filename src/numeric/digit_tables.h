// Small decimal tables shared by the coordinate reader and the field
// renderers: powers of ten as integers, and the digits of 0..99 in pairs.
#pragma once

#include <array>
#include <cstdint>

namespace numeric {

// 10^0 .. 10^19, every power of ten below 2^64.
inline constexpr std::array<std::uint64_t, 20> INTEGER_POWERS = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (auto& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}();

// The two digits of n at 2n and 2n + 1: writing numbers two digits per step
// halves the divisions.
inline constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace numeric
