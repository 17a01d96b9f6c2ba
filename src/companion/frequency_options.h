// The three options that say how fine a mesh must be for the solver:
// --frequency HZ, --sound-speed C and --elements-per-wavelength K. The check
// and the preparation read them by the same rules, so that a model the
// preparation calls fine enough is one the check calls fine enough.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "companion/options.h"
#include "geometry/frequency_settings.h"

namespace companion {

// Their names, for a command's table of rules (each takes a value).
inline constexpr std::string_view FREQUENCY_OPTION = "--frequency";
inline constexpr std::string_view SOUND_SPEED_OPTION = "--sound-speed";
inline constexpr std::string_view ELEMENTS_OPTION = "--elements-per-wavelength";

// Reads those of the three that `read` holds (found in `rules` by name)
// into `settings`, the others keeping their defaults. Each value is a
// finite number above zero, the whole text of it with one optional leading
// '+'. Together they must leave the wavelength C / HZ, the longest side
// C / HZ / K and the quotient C / K finite and above zero: each alone may
// be fine and a quotient still overflow or vanish, and the check measures
// the highest frequency of a mesh as C / (K x longest edge). Returns an
// empty string, or the one-line reason the values are not usable.
std::string read_frequency_settings(const ReadOptions& read, std::span<const OptionRule> rules,
                                    geometry::FrequencySettings& settings);

// The three options' lines of a command's --help, with the deck's defaults;
// `sound_speed_note` follows the sound speed's default inside its
// parentheses (empty for none).
std::string frequency_options_help(std::string_view sound_speed_note);

}  // namespace companion
