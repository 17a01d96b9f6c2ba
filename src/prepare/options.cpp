#include "prepare/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "format/terminal_text.h"

namespace prepare {
namespace {

std::string shown(std::string_view text) {
  std::string quoted = "'";
  format::escape_for_terminal(text, [&quoted](std::string_view piece) { quoted += piece; });
  return quoted + "'";
}
// A finite number above zero, the whole text of it.
bool read_positive(std::string_view text, double& value) {
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && std::isfinite(value) && value > 0.0;
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
      } else if (argument == "--weld" || argument.starts_with("--weld=")) {
        if (again("--weld")) return "--weld is given twice";
        std::string_view value;
        if (argument == "--weld") {
          if (i + 1 == arguments.size()) return "--weld needs a value";
          value = arguments[++i];
        } else {
          value = argument.substr(7);
        }
        if (!read_positive(value, options.weld_distance)) {
          return "--weld needs a positive number, not " + shown(value);
        }
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
  const double wavelength = options.sound_speed / options.frequency_hz;
  const double side = options.max_side();
  if (!std::isfinite(wavelength) || !(wavelength > 0.0) || !std::isfinite(side) || !(side > 0.0)) {
    return "the wavelength C / HZ / K of these values is not a finite length above zero";
  }
  return {};
}

}  // namespace prepare
