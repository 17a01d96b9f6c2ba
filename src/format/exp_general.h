// The exponent field of any form and any value, built from the significant
// digits: the way every value takes that the two coordinate forms' own code
// (format/exp_forms.h) leaves aside, and every other form.
#pragma once

#include <span>

namespace format {

// EXP(w.d letter) as render_exp describes it. Kept out of line, so that the
// coordinate forms, which call it on their rare ways, save no registers for it.
[[gnu::noinline]] void render_exp_general(double value, int digits, char letter,
                                          std::span<char> field);

}  // namespace format
