#include "companion/options.h"

#include <charconv>
#include <cmath>

namespace companion {
namespace {

std::string_view without_plus(std::string_view text) {
  return text.starts_with('+') ? text.substr(1) : text;
}

}  // namespace

ReadOptions read_options(std::span<const std::string_view> arguments,
                         std::span<const OptionRule> rules) {
  ReadOptions read;
  read.values.resize(rules.size());
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (options_ended || !argument.starts_with('-') || argument == "-") {
      read.operands.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    std::size_t rule = 0;
    while (rule < rules.size() && rules[rule].name != name &&
           (rules[rule].short_name.empty() || rules[rule].short_name != name)) {
      ++rule;
    }
    if (rule == rules.size()) {
      read.problem = "unknown option '" + std::string(argument) + "' (try --help)";
      return read;
    }
    const OptionRule& option = rules[rule];
    if (read.values[rule].has_value()) {
      read.problem = std::string(option.name) + " is given twice: give it once";
      return read;
    }
    if (!option.takes_value) {
      if (equals != std::string_view::npos) {
        read.problem = std::string(option.name) + " takes no value";
        return read;
      }
      read.values[rule] = std::string();
      continue;
    }
    if (equals != std::string_view::npos) {
      read.values[rule] = std::string(argument.substr(equals + 1));
    } else if (i + 1 < arguments.size()) {
      read.values[rule] = std::string(arguments[++i]);
    } else {
      read.problem = std::string(option.name) + " needs a value";
      return read;
    }
  }
  return read;
}

std::string bad_value(std::string_view option, std::string_view value, std::string_view wanted) {
  return std::string(option) + " needs " + std::string(wanted) + ", not '" + std::string(value) +
         "'";
}

std::optional<double> read_number(std::string_view text) {
  const std::string_view digits = without_plus(text);
  if (digits.empty() ||
      (text.starts_with('+') && !(digits[0] >= '0' && digits[0] <= '9') && digits[0] != '.')) {
    return std::nullopt;
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<long long> read_whole_number(std::string_view text) {
  const std::string_view digits = without_plus(text);
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  long long value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

}  // namespace companion
