#include "format/digitless_fields.h"

#include <cmath>
#include <cstddef>

namespace format {

void place_right(std::string_view text, std::span<char> field) {
  if (text.size() > field.size()) {
    fill_asterisks(field);
    return;
  }
  const std::size_t blanks = field.size() - text.size();
  std::fill_n(field.begin(), blanks, ' ');
  std::copy(text.begin(), text.end(), field.begin() + static_cast<std::ptrdiff_t>(blanks));
}

void render_not_finite(double value, std::span<char> field) {
  if (std::isnan(value)) {
    place_right("NaN", field);
    return;
  }
  const bool negative = value < 0;
  const std::string_view long_text = negative ? "-Infinity" : "Infinity";
  place_right(long_text.size() <= field.size() ? long_text : (negative ? "-Inf" : "Inf"), field);
}

}  // namespace format
