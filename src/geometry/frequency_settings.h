// How fine a mesh must be for the solver: an element side may be at most
// wavelength / K, with wavelength = C / HZ. Both companions take the three
// numbers from their command lines by the same rules and with the deck's
// defaults, so that a model the preparation calls fine enough is one the
// check calls fine enough.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "geometry/deck_defaults.h"

namespace geometry {

struct FrequencySettings {
  double frequency_hz = DECK_FREQUENCY;
  double sound_speed = DECK_SOUND_SPEED;  // model units per second (343000 for millimetres)
  double elements_per_wavelength = 6.0;

  // The longest side an element may have.
  double max_side() const { return sound_speed / frequency_hz / elements_per_wavelength; }
};

enum class SettingRead { not_a_setting, read, missing_value, not_a_positive_number };

struct SettingOption {
  SettingRead outcome = SettingRead::not_a_setting;
  std::string_view name;   // the option's name, for a message
  std::string_view value;  // the text given for it
};

// Reads arguments[i] when it is --frequency, --sound-speed or
// --elements-per-wavelength, as "--name value" (then i moves past the
// value) or "--name=value". A value is a finite number above zero, the
// whole text of it, with one optional leading '+'.
SettingOption read_setting_option(std::span<const std::string_view> arguments, std::size_t& i,
                                  FrequencySettings& settings);

}  // namespace geometry
