#include "companion/frequency_options.h"

#include <cmath>

#include "format/plain_number.h"
#include "geometry/deck_defaults.h"

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

std::string frequency_options_help(std::string_view sound_speed_note) {
  return "  --frequency HZ               frequency to mesh for (default " +
         format::general_text(geometry::DECK_FREQUENCY, 6) +
         ")\n"
         "  --sound-speed C              speed of sound in metres per second (default " +
         format::fixed_text(geometry::DECK_SOUND_SPEED, 1) + std::string(sound_speed_note) +
         ")\n"
         "  --elements-per-wavelength K  elements wanted per wavelength (default 6)\n";
}

}  // namespace companion
