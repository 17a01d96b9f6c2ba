// A companion's command line, read by one loop with one set of rules:
// "--name VALUE" or "--name=VALUE" for an option with a value, "--name" for
// a switch, "--" ending the options, "-" an operand (standard input's usual
// name), every other word an operand. An option given twice is refused
// rather than one of its values silently winning.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace companion {

struct OptionRule {
  std::string_view name;  // with its dashes: "--frequency"
  bool takes_value = false;
  std::string_view short_name = {};  // "-h"; empty for none
};

struct ReadOptions {
  // Per rule, in the order of the rules: absent, or the value given (empty
  // for a switch).
  std::vector<std::optional<std::string>> values;
  std::vector<std::string> operands;
  std::string problem;  // empty, or the one-line reason the line is not usable

  bool has(std::size_t rule) const { return values[rule].has_value(); }
};

ReadOptions read_options(std::span<const std::string_view> arguments,
                         std::span<const OptionRule> rules);

// The one form of the message for a value an option cannot take:
// "--density needs a positive number, not 'abc'".
std::string bad_value(std::string_view option, std::string_view value, std::string_view wanted);

// The whole text as a finite number, with one optional leading '+'; none
// for anything else (blanks, a trailing unit, "nan", "inf", an overflow).
std::optional<double> read_number(std::string_view text);

// The whole text as a whole number of at most 18 digits, with one optional
// leading '+'; none for anything else.
std::optional<long long> read_whole_number(std::string_view text);

}  // namespace companion
