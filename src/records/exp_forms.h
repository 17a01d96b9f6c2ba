// The two exponent forms of the coordinates, EXP(24.15 D) in the solver
// deck and EXP(15.7 E) in the mesh view, have code of their own: with the
// digit count and the layout fixed, a field is four or five stores of words
// built without loops. Only normal doubles whose rounding is decided at once
// take this way; zeros are one copy of a ready field, and everything else
// goes the general way (records/exp_general.h), which gives the same
// characters.
#pragma once

#include <cstddef>

namespace records {

// Renders value into out[0, WIDTH) with COUNT significant digits. Defined
// for the two forms in use only.
template <int COUNT, std::size_t WIDTH, char LETTER>
[[gnu::noinline]] void render_exp_form(double value, char* out);

extern template void render_exp_form<15, 24, 'D'>(double value, char* out);
extern template void render_exp_form<7, 15, 'E'>(double value, char* out);

}  // namespace records
