// Fields that show no digits of their value: asterisks when the value does
// not fit, the words of NaN and the infinities, and right-aligned text.
#pragma once

#include <algorithm>
#include <span>
#include <string_view>

namespace format {

inline void fill_asterisks(std::span<char> field) { std::fill(field.begin(), field.end(), '*'); }

// Right-aligns text after blanks, or fills the field with asterisks when the
// text is wider than the field.
void place_right(std::string_view text, std::span<char> field);

// NaN has no sign; an infinity falls back to its short text, then to
// asterisks, when the field is too narrow.
void render_not_finite(double value, std::span<char> field);

}  // namespace format
