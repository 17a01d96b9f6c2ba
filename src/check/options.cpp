#include "check/options.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace check {
namespace {

struct NumberOption {
  std::string_view name;
  double CheckSettings::*setting;
};

constexpr NumberOption NUMBER_OPTIONS[] = {
    {              "--frequency",            &CheckSettings::frequency_hz},
    {            "--sound-speed",             &CheckSettings::sound_speed},
    {"--elements-per-wavelength", &CheckSettings::elements_per_wavelength},
};

// A finite number above zero, the whole text of it, with one optional
// leading '+'.
bool read_positive(std::string_view text, double& value) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.starts_with('+') || text.starts_with('-')) return false;
  double read = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), read);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  if (!std::isfinite(read) || !(read > 0.0)) return false;
  value = read;
  return true;
}

}  // namespace

std::string parse_options(std::span<const std::string_view> arguments, CheckOptions& options) {
  bool have_path = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!options_ended && argument.starts_with("-") && argument != "-") {
      if (argument == "--") {
        options_ended = true;
        continue;
      }
      if (argument == "--json") {
        options.json = true;
        continue;
      }
      if (argument == "--view" || argument.starts_with("--view=")) {
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
      const NumberOption* matched = nullptr;
      std::string_view value;
      bool has_value = false;
      for (const NumberOption& option : NUMBER_OPTIONS) {
        if (argument == option.name) {
          matched = &option;
          if (i + 1 < arguments.size()) {
            value = arguments[++i];
            has_value = true;
          }
        } else if (argument.starts_with(option.name) && argument[option.name.size()] == '=') {
          matched = &option;
          value = argument.substr(option.name.size() + 1);
          has_value = true;
        }
        if (matched != nullptr) break;
      }
      if (matched == nullptr) {
        return "unknown option '" + std::string(argument) + "' (try --help)";
      }
      if (!has_value) return std::string(matched->name) + " needs a value";
      if (!read_positive(value, options.settings.*(matched->setting))) {
        return std::string(matched->name) + " needs a positive number, not '" + std::string(value) +
               "'";
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
