// The first d significant digits of a positive finite double, rounded to
// nearest from the exact stored value, ties to even: the digits of every
// exponent field.
//
// The digits come from the library's exact conversion. The two coordinate
// forms (15 digits for the solver deck, 7 for the mesh view) have a fast
// path of their own (format/exp_forms.h), which takes this way only for the
// values its bound leaves undecided.
#pragma once

#include <cstdint>

#include "numeric/powers_of_ten.h"

namespace format {

// The most digits the coordinate forms' fast path may produce: its powers
// of ten come from the truncated table, which reaches exactly far enough for
// 15 digits of the smallest subnormal.
inline constexpr int MAX_FAST_DIGITS = 15;
static_assert(numeric::TRUNCATED_HIGHEST == MAX_FAST_DIGITS - 1 + 324);

// 2^(q+52) <= value < 2^(q+53), so floor(log10(value)) is this or one more.
// 78913 / 2^18 approximates log10(2) closely enough that this is
// floor((q + 52) * log10(2)) for every |q + 52| <= 1200, which covers every
// double (checked once against exact powers of two and ten).
constexpr int low_decimal_exponent(int q) { return ((q + 52) * 78913) >> 18; }

// Writes the first `count` (at least 1) significant digits of a positive
// finite double to out[0, count) and returns the exponent E of the form
// 0.d1d2... * 10^E.
int write_significant_digits(double magnitude, int count, char* out);

}  // namespace format
