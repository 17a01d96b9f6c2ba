// The full 128-bit product of two 64-bit integers, which both the
// coordinate reader (digits times a power of ten) and the field renderers
// (a significand times a power of ten) need whole.
//
// Both supported compilers have a 128-bit unsigned type, and it compiles to
// one multiply instruction on 64-bit machines; a build without it stops here
// rather than falling back to a slower portable product.
#pragma once

#include <cstdint>

#if !defined(__SIZEOF_INT128__)
#error "a 128-bit unsigned integer type is required"
#endif

namespace numeric {

// __extension__ keeps -Wpedantic quiet about the non-standard type.
__extension__ using Uint128 = unsigned __int128;

constexpr Uint128 multiply_64(std::uint64_t a, std::uint64_t b) { return Uint128{a} * b; }

constexpr std::uint64_t high_64(Uint128 x) { return static_cast<std::uint64_t>(x >> 64); }
constexpr std::uint64_t low_64(Uint128 x) { return static_cast<std::uint64_t>(x); }

}  // namespace numeric
