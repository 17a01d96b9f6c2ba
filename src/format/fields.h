// Field renderers: each turns one value into exactly field.size() characters.
//
// These are the only producers of numbers in the output files, so they fix
// every digit the solver reads. Digits always come from the exact value the
// double holds, rounded to nearest with ties to even; a value that does not
// fit its field gives asterisks; no plus sign is ever written; negative zero
// is written like zero. None of them allocates or touches a file.
//
// render_exp keeps state: for the two coordinate forms it remembers the
// fields of the values it rendered last (format/exp_forms.h), one memo per
// form and per thread. A field depends only on its value, so the memo never
// changes a result; each thread has its own, so any thread may render.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace format {

// INT(w): right-aligned decimal digits, a minus sign directly before them,
// w asterisks when digits and sign need more than w columns.
void render_int(std::int32_t value, std::span<char> field);

// FIX(w.d): d digits after the point; a "0" before the point only when it
// fits; "-0.00" for a negative normal value that rounds to zero. A negative
// d gives asterisks.
void render_fixed(double value, int decimals, std::span<char> field);

// EXP(w.d E) / EXP(w.d D): 0.d1...dd followed by the exponent part (letter,
// sign, two digits; from |e| = 100 up the sign and three digits, no letter).
// Fewer than one digit gives asterisks.
void render_exp(double value, int digits, char letter, std::span<char> field);

// TEXT(w): the first w characters, or the text right-aligned after blanks.
void render_text(std::string_view text, std::span<char> field);

}  // namespace format
