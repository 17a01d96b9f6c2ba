// Coordinates as the mending writes them, so that the converter reads back
// exactly the double that was computed.
//
// The shortest decimal that identifies a double is not always enough: the
// converter's reading of long tokens may take the other neighbour when the
// decimal lies within 2^-10 units in the last place of the midpoint between
// two doubles (8.427724e-131 is one such shortest form). Seventeen
// correctly rounded significant digits lie within 0.23 units in the last
// place of the double, far from any midpoint, so every reading gives the
// double back. Most coordinates of a model are shorter, though: the
// coordinates a CAD program wrote with a few digits. So a coordinate is
// first written with 15 correctly rounded significant digits (as many as
// the deck's coordinates carry), trailing zeros dropped, and that text is kept only when the
// converter's own reader gives back exactly this double; otherwise it gets 17 digits. Either way
// the converter reads what was computed, and "55" stays "55".
//
// The form is compact so that a vertex line with three of the widest
// numbers stays within the converter's 80 columns: the digits as an integer
// without a decimal point, trailing zeros moved into the exponent, and the
// exponent only when it is not zero: "-12345678901234567e-216" (23
// characters at most), "15e-1" for 1.5, "0" and "-0".
#pragma once

#include <cstddef>

namespace prepare {

// The widest coordinate text: a sign, 17 digits, "e", "-" and 3 digits.
inline constexpr std::size_t COORDINATE_TEXT_WIDTH = 23;

// Writes the finite `value` at `out` (room for COORDINATE_TEXT_WIDTH
// characters); returns the number of characters written.
std::size_t render_coordinate(double value, char* out);

// A component of a unit normal, which nobody reads to more than a float's
// precision: 7 significant digits in the same compact form ("-9582103e-7",
// "1", "0"); at most COORDINATE_TEXT_WIDTH characters.
std::size_t render_normal_component(double value, char* out);

}  // namespace prepare
