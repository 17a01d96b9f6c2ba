#include "geometry/frequency_settings.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace geometry {
namespace {

struct NumberOption {
  std::string_view name;
  double FrequencySettings::*setting;
};

constexpr NumberOption NUMBER_OPTIONS[] = {
    {              "--frequency",            &FrequencySettings::frequency_hz},
    {            "--sound-speed",             &FrequencySettings::sound_speed},
    {"--elements-per-wavelength", &FrequencySettings::elements_per_wavelength},
};

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

SettingOption read_setting_option(std::span<const std::string_view> arguments, std::size_t& i,
                                  FrequencySettings& settings) {
  const std::string_view argument = arguments[i];
  for (const NumberOption& option : NUMBER_OPTIONS) {
    SettingOption found{SettingRead::read, option.name, {}};
    if (argument == option.name) {
      if (i + 1 == arguments.size()) {
        found.outcome = SettingRead::missing_value;
        return found;
      }
      found.value = arguments[++i];
    } else if (argument.starts_with(option.name) && argument[option.name.size()] == '=') {
      found.value = argument.substr(option.name.size() + 1);
    } else {
      continue;
    }
    if (!read_positive(found.value, settings.*(option.setting))) {
      found.outcome = SettingRead::not_a_positive_number;
    }
    return found;
  }
  return {};
}

}  // namespace geometry
