// The two exponent forms of the coordinates, EXP(24.15 D) in the solver
// deck and EXP(15.7 E) in the mesh view, have code of their own: with the
// digit count and the layout fixed, a field is four or five stores of words
// built without loops. Only normal doubles whose rounding is decided at once
// take this way; zeros are one copy of a ready field, and everything else
// goes the general way (format/exp_general.h), which gives the same
// characters.
//
// Each form keeps a memo of the fields it rendered last
// (format/recent_fields.h), one per thread: these two functions keep
// state, but any thread may call them.
#pragma once

#include <cstddef>

namespace format {

inline constexpr std::size_t DECK_COORDINATE_WIDTH = 24;
inline constexpr std::size_t VIEW_COORDINATE_WIDTH = 15;

// EXP(24.15 D) into out[0, 24).
void render_deck_coordinate(double value, char* out);

// EXP(15.7 E) into out[0, 15).
void render_view_coordinate(double value, char* out);

}  // namespace format
