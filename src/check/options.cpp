#include "check/options.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/frequency_settings.h"

namespace check {

std::string parse_options(std::span<const std::string_view> arguments, CheckOptions& options) {
  bool have_path = false;
  bool options_ended = false;
  // An option given twice is refused rather than one of the two silently
  // taken: `--view a --view b` would write only b.
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
        continue;
      }
      if (argument == "--json") {
        if (again("--json")) return "--json is given twice";
        options.json = true;
        continue;
      }
      if (argument == "--view" || argument.starts_with("--view=")) {
        if (again("--view")) return "--view is given twice";
        if (argument == "--view") {
          if (i + 1 == arguments.size()) return "--view needs a file name";
          options.view_path = std::string(arguments[++i]);
        } else {
          options.view_path = std::string(argument.substr(7));
        }
        if (options.view_path.empty()) return "--view needs a file name";
        continue;
      }
      if (argument == "--help" || argument == "-h") {
        options.help = true;
        continue;
      }
      const geometry::SettingOption setting =
          geometry::read_setting_option(arguments, i, options.settings);
      switch (setting.outcome) {
        case geometry::SettingRead::not_a_setting:
          return "unknown option '" + std::string(argument) + "' (try --help)";
        case geometry::SettingRead::missing_value:
          return std::string(setting.name) + " needs a value";
        case geometry::SettingRead::not_a_positive_number:
          return std::string(setting.name) + " needs a positive number, not '" +
                 std::string(setting.value) + "'";
        case geometry::SettingRead::read:
          if (again(setting.name)) return std::string(setting.name) + " is given twice";
          break;
      }
      continue;
    }
    if (have_path) return "only one FILE may be given (try --help)";
    options.path = std::string(argument);
    have_path = true;
  }
  // Each value may be fine alone and the quotients still leave the range of
  // doubles: the wavelength C / HZ, and the highest frequency of a mesh,
  // C / (K x longest edge), which must be finite at least for edges of one
  // unit.
  const CheckSettings& settings = options.settings;
  const double wavelength = settings.sound_speed / settings.frequency_hz;
  if (!std::isfinite(wavelength) || !(wavelength / settings.elements_per_wavelength > 0.0)) {
    return "--sound-speed / --frequency is out of range: choose values whose wavelength is a "
           "finite number above zero";
  }
  if (!std::isfinite(settings.sound_speed / settings.elements_per_wavelength)) {
    return "--sound-speed / --elements-per-wavelength is out of range: choose values whose "
           "quotient is finite";
  }
  return {};
}

}  // namespace check
