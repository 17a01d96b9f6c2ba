// The length unit a model file is written in, for the companions'
// --units option. Everything else a companion reads or states is in
// metres: the sound speed (metres per second), the lengths on its command
// line (--weld, --max-deviation) and every length, area and volume it
// reports. The model file alone is in its own unit, multiplied out to
// metres where a length is stated and where the preparation writes it.
//
// The older way to say "millimetres", a sound speed given in millimetres
// per second (--sound-speed 343000), is still understood: a sound speed of
// exactly 343 m/s expressed per second in centimetres, millimetres or
// micrometres (34300, 343000, 343000000) implies that unit, and the speed
// is taken as 343 m/s. With --units given as well, such a speed is refused
// as a usage error rather than guessed at: it would count the unit twice
// (343000 m/s is no speed of sound in any fluid).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "companion/options.h"
#include "geometry/frequency_settings.h"
#include "geometry/triangle.h"

namespace companion {

inline constexpr std::string_view UNITS_OPTION = "--units";

struct LengthUnit {
  std::string_view name;   // as --units takes it: "mm"
  std::string_view words;  // for a summary: "millimetres"
  // Metres per unit, the double nearest the exact factor: 0.0254 and
  // 0.3048 (inch and foot) are not exact in binary, nor are 0.01, 0.001
  // and 1e-6, so a model coordinate x becomes the correctly rounded
  // product x * factor, which one IEEE multiplication gives.
  double factor;
};

inline constexpr LengthUnit LENGTH_UNITS[] = {
    {"m", "metres", 1.0},        {"cm", "centimetres", 0.01}, {"mm", "millimetres", 0.001},
    {"um", "micrometres", 1e-6}, {"in", "inches", 0.0254},    {"ft", "feet", 0.3048},
};
inline constexpr std::size_t METRES = 0;  // the default: LENGTH_UNITS[METRES]

// The unit a run takes the model in, and how it came to it.
struct ModelUnits {
  std::size_t unit = METRES;  // into LENGTH_UNITS
  // Set when no --units was given and the sound speed implied the unit:
  // the value as given (343000), for the summary to repeat.
  double implying_sound_speed = 0.0;

  const LengthUnit& length_unit() const { return LENGTH_UNITS[unit]; }
  double factor() const { return LENGTH_UNITS[unit].factor; }
  bool metres() const { return unit == METRES; }
};

// Reads --units (found in `rules` by name) and settles the unit with the
// sound speed already read into `settings`: a speed that names a unit (see
// above) sets it when --units is absent, and is refused when --units is
// given. Returns an empty string, or the one-line reason the values are
// not usable.
std::string read_model_units(const ReadOptions& read, std::span<const OptionRule> rules,
                             geometry::FrequencySettings& settings, ModelUnits& units);

// The --units lines of a command's --help.
std::string units_help();

// The row a summary gives the unit, in the same words for both commands:
// "metres (for a model in other units give --units, e.g. --units mm)",
// "millimetres, stated in metres (x 0.001)", or for a unit the
// sound speed implied "sound speed 343000: model units taken as
// millimetres (use --units mm), stated in metres (x 0.001)".
std::string units_text(const ModelUnits& units);

// The first coordinate of `facets` whose product with `factor` leaves the
// normal doubles: infinite (past 1.8e308) or, for a coordinate not zero,
// below the smallest normal number 2.2e-308, where it would lose digits or
// become zero. A factor of 1 multiplies nothing, so nothing is out of range;
// a coordinate that is not finite is the mending's to drop, not a scaling
// problem.
struct ScaleProblem {
  bool found = false;
  bool overflow = false;  // else underflow
  double coordinate = 0.0;
  std::size_t facet = 0;  // 0-based
};
ScaleProblem find_scale_problem(std::span<const geometry::Triangle> facets, double factor);

// Whether one coordinate's product leaves the normal doubles, as above.
inline bool scales_out_of_range(double coordinate, double factor) {
  if (factor == 1.0 || !std::isfinite(coordinate)) return false;
  const double product = coordinate * factor;
  return std::abs(product) > std::numeric_limits<double>::max() ||
         (coordinate != 0.0 && std::abs(product) < std::numeric_limits<double>::min());
}

// The problem in words, naming the unit and, in `where`, the place of the
// facet: "the coordinate 1e+308 at line 3 is beyond the largest number,
// 1.8e308, once in metres (x 0.3048 for feet)".
std::string scale_problem_text(const ScaleProblem& problem, const LengthUnit& unit,
                               std::string_view where);

}  // namespace companion
