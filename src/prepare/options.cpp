#include "prepare/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace prepare {
namespace {

// An argument quoted as given; the message is escaped as a whole where it
// is shown on a terminal.
std::string shown(std::string_view text) { return "'" + std::string(text) + "'"; }

// Reads the value of --weld, --feature-angle or --max-deviation, as
// "--name value" or "--name=value": a finite number above zero and below
// `above`. An
// empty string, or why the value is not usable.
std::string read_number(std::span<const std::string_view> arguments, std::size_t& i,
                        std::string_view name, double above, double& value) {
  std::string_view text;
  const std::string_view argument = arguments[i];
  if (argument.size() > name.size() && argument[name.size()] == '=') {
    text = argument.substr(name.size() + 1);
  } else if (i + 1 < arguments.size()) {
    text = arguments[++i];
  } else {
    return std::string(name) + " needs a value";
  }
  const std::string copy(text.starts_with('+') ? text.substr(1) : text);
  char* end = nullptr;
  const double number = copy.empty() ? 0.0 : std::strtod(copy.c_str(), &end);
  const bool whole = !copy.empty() && end == copy.c_str() + copy.size() &&
                     (std::isdigit(static_cast<unsigned char>(copy[0])) != 0 || copy[0] == '.');
  if (!whole || !std::isfinite(number) || !(number > 0.0) || !(number < above)) {
    return std::string(name) +
           (std::isfinite(above) ? " needs a number above 0 and below 180"
                                 : " needs a positive number") +
           ", not " + shown(text);
  }
  value = number;
  return {};
}

bool is_option(std::string_view argument, std::string_view name) {
  return argument == name || (argument.starts_with(name) && argument.size() > name.size() &&
                              argument[name.size()] == '=');
}

}  // namespace

std::string parse_options(std::span<const std::string_view> arguments, PrepareOptions& options) {
  std::size_t paths = 0;
  bool options_ended = false;
  // An option given twice is refused rather than one of the two silently
  // taken.
  std::vector<std::string_view> given;
  const auto again = [&given](std::string_view name) {
    if (std::find(given.begin(), given.end(), name) != given.end()) return true;
    given.push_back(name);
    return false;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!options_ended && argument.starts_with("-") && argument != "-") {
      if (argument == "--") {
        options_ended = true;
      } else if (argument == "--json" || argument == "--no-refine") {
        if (again(argument)) return std::string(argument) + " is given twice";
        if (argument == "--json") {
          options.json = true;
        } else {
          options.refine = false;
        }
      } else if (is_option(argument, "--weld")) {
        if (again("--weld")) return "--weld is given twice";
        std::string problem = read_number(arguments, i, "--weld", INFINITY, options.weld_distance);
        if (!problem.empty()) return problem;
      } else if (argument == "--refine-only") {
        if (again(argument)) return "--refine-only is given twice";
        options.refine_only = true;
      } else if (is_option(argument, "--feature-angle")) {
        if (again("--feature-angle")) return "--feature-angle is given twice";
        std::string problem =
            read_number(arguments, i, "--feature-angle", 180.0, options.feature_angle_degrees);
        if (!problem.empty()) return problem;
      } else if (is_option(argument, "--max-deviation")) {
        if (again("--max-deviation")) return "--max-deviation is given twice";
        std::string problem =
            read_number(arguments, i, "--max-deviation", INFINITY, options.max_deviation);
        if (!problem.empty()) return problem;
      } else if (argument == "--help" || argument == "-h") {
        options.help = true;
      } else {
        const geometry::SettingOption setting =
            geometry::read_setting_option(arguments, i, options);
        switch (setting.outcome) {
          case geometry::SettingRead::not_a_setting:
            return "unknown option " + shown(argument) + " (try --help)";
          case geometry::SettingRead::missing_value:
            return std::string(setting.name) + " needs a value";
          case geometry::SettingRead::not_a_positive_number:
            return std::string(setting.name) + " needs a positive number, not " +
                   shown(setting.value);
          case geometry::SettingRead::read:
            if (again(setting.name)) return std::string(setting.name) + " is given twice";
            break;
        }
      }
      continue;
    }
    if (paths == 0) options.input = std::string(argument);
    if (paths == 1) options.output = std::string(argument);
    if (++paths > 2) return "at most IN and OUT may be given (try --help)";
  }
  if (options.help) return {};
  if (paths == 0) return "no input model given (try --help)";
  // Refused before the model is read, not after all the work.
  if (paths == 2 && options.output.empty()) return "OUT is an empty name";
  if (options.refine_only && !options.refine) {
    return "--refine-only and --no-refine exclude each other";
  }
  const double wavelength = options.sound_speed / options.frequency_hz;
  const double side = options.max_side();
  if (!std::isfinite(wavelength) || !(wavelength > 0.0) || !std::isfinite(side) || !(side > 0.0)) {
    return "the wavelength C / HZ / K of these values is not a finite length above zero";
  }
  return {};
}

}  // namespace prepare
