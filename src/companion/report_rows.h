// The report for people: rows of a label and a value, the values in one
// column, and counts with their digits grouped by thousands.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace companion {

struct ReportRow {
  std::string_view label;  // empty for a row that continues the one above
  std::string value;
};

// Each row as two blanks, the label, blanks up to the value column, the
// value and a line feed. The value column lies one blank past the longest
// label, and at least at `value_column` (counted from 0), so that reports
// of one command line up whatever rows they hold.
std::string render_rows(std::span<const ReportRow> rows, std::size_t value_column = 26);

// 1234567 -> "1,234,567"; -1234 -> "-1,234".
std::string group_digits(std::int64_t value);

// Six significant digits, the shortest form that shows them ("343",
// "0.39049", "1e+07"): enough to act on, short enough to read; "nan", "inf"
// and "-inf" for values that are not finite.
std::string readable_number(double value);

}  // namespace companion
