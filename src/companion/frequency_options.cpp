#include "companion/frequency_options.h"

#include <cmath>

namespace companion {
namespace {

bool finite_above_zero(double value) { return std::isfinite(value) && value > 0.0; }

}  // namespace

std::string read_frequency_settings(const ReadOptions& read, std::span<const OptionRule> rules,
                                    geometry::FrequencySettings& settings) {
  struct Setting {
    std::string_view name;
    double geometry::FrequencySettings::*value;
  };
  constexpr Setting SETTINGS[] = {
      {FREQUENCY_OPTION, &geometry::FrequencySettings::frequency_hz},
      {SOUND_SPEED_OPTION, &geometry::FrequencySettings::sound_speed},
      {ELEMENTS_OPTION, &geometry::FrequencySettings::elements_per_wavelength},
  };
  for (const Setting& setting : SETTINGS) {
    std::size_t rule = 0;
    while (rule < rules.size() && rules[rule].name != setting.name) ++rule;
    if (rule == rules.size() || !read.has(rule)) continue;
    const std::string& text = *read.values[rule];
    const std::optional<double> number = read_number(text);
    if (!number || !(*number > 0.0)) return bad_value(setting.name, text, "a positive number");
    settings.*(setting.value) = *number;
  }
  const double wavelength = settings.sound_speed / settings.frequency_hz;
  if (!finite_above_zero(wavelength) || !finite_above_zero(settings.max_side()) ||
      !finite_above_zero(settings.sound_speed / settings.elements_per_wavelength)) {
    return "--sound-speed, --frequency and --elements-per-wavelength are out of range together: "
           "the wavelength C / HZ, the side C / HZ / K and C / K must be finite numbers above "
           "zero";
  }
  return {};
}

}  // namespace companion
