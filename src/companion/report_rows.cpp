#include "companion/report_rows.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace companion {

std::string render_rows(std::span<const ReportRow> rows, std::size_t value_column) {
  constexpr std::size_t INDENT = 2;
  std::size_t column = value_column;
  for (const ReportRow& row : rows) column = std::max(column, INDENT + row.label.size() + 1);
  std::string text;
  for (const ReportRow& row : rows) {
    text.append(INDENT, ' ');
    text += row.label;
    text.append(column - INDENT - row.label.size(), ' ');
    text += row.value;
    text += '\n';
  }
  return text;
}

std::string group_digits(std::int64_t value) {
  // The magnitude as unsigned, so that the lowest value has one too.
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string text = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::string readable_number(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  std::array<char, 32> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::general, 6);
  return std::string(text.data(), result.ptr);
}

}  // namespace companion
