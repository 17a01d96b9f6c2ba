#include "companion/tecplot_zones.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

namespace companion {
namespace {

constexpr std::size_t PIECE = std::size_t{1} << 20;

void append_number(std::string& text, double value) {
  std::array<char, 32> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  text.append(digits.data(), result.ptr);
}

// A title as a quoted string: Tecplot strings end at a double quote and
// take a backslash as an escape, so both are escaped.
void append_quoted(std::string& text, std::string_view title) {
  text += '"';
  for (const char c : title) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  text += '"';
}

}  // namespace

bool has_zone(std::span<const geometry::Triangle> model) {
  return std::any_of(model.begin(), model.end(), geometry::is_finite);
}

TecplotZones::TecplotZones(std::string_view title, std::span<const geometry::Triangle> model,
                           TextSink sink)
    : sink_(std::move(sink)) {
  text_ = "TITLE = ";
  append_quoted(text_, title);
  text_ += "\nVARIABLES = \"X\", \"Y\", \"Z\"\n";
  add_zone("model", model);
}

bool TecplotZones::flush_when_large() {
  if (text_.size() < PIECE) return true;
  failed_ = failed_ || !sink_(text_);
  text_.clear();
  return !failed_;
}

bool TecplotZones::add_zone(std::string_view title, std::span<const geometry::Triangle> elements) {
  if (failed_) return false;
  const auto count = static_cast<std::size_t>(
      std::count_if(elements.begin(), elements.end(), geometry::is_finite));
  if (count == 0) return true;
  text_ += "ZONE T=";
  append_quoted(text_, title);
  text_ += ", N=" + std::to_string(3 * count) + ", E=" + std::to_string(count) +
           ", DATAPACKING=POINT, ZONETYPE=FETRIANGLE\n";
  for (const geometry::Triangle& element : elements) {
    if (!geometry::is_finite(element)) continue;
    for (const geometry::Point& p : element) {
      append_number(text_, p[0]);
      text_ += ' ';
      append_number(text_, p[1]);
      text_ += ' ';
      append_number(text_, p[2]);
      text_ += '\n';
      if (!flush_when_large()) return false;
    }
  }
  for (std::size_t e = 0; e < count; ++e) {
    text_ += std::to_string(3 * e + 1) + ' ' + std::to_string(3 * e + 2) + ' ' +
             std::to_string(3 * e + 3) + '\n';
    if (!flush_when_large()) return false;
  }
  return true;
}

bool TecplotZones::finish() {
  if (!failed_ && !text_.empty()) failed_ = !sink_(text_);
  text_.clear();
  return !failed_;
}

}  // namespace companion
