#include "companion/units.h"

#include <charconv>

#include "format/plain_number.h"
#include "geometry/deck_defaults.h"

namespace companion {
namespace {

// The speed of sound the deck assumes, 343 m/s, per second in the metric
// units smaller than a metre: what a user of the older way gave for a model
// in those units. Written out, not computed, for 343 / 0.001 is not
// 343000 in binary.
struct SpeedHint {
  double sound_speed;
  std::size_t unit;
};
constexpr SpeedHint SPEED_HINTS[] = {{34300.0, 1}, {343000.0, 2}, {343000000.0, 3}};

std::string factor_text(double factor) { return format::general_text(factor, 6); }

}  // namespace

std::string read_model_units(const ReadOptions& read, std::span<const OptionRule> rules,
                             geometry::FrequencySettings& settings, ModelUnits& units) {
  std::size_t rule = 0;
  while (rule < rules.size() && rules[rule].name != UNITS_OPTION) ++rule;
  const bool given = rule < rules.size() && read.has(rule);
  if (given) {
    const std::string& text = *read.values[rule];
    std::size_t unit = 0;
    while (unit < std::size(LENGTH_UNITS) && LENGTH_UNITS[unit].name != text) ++unit;
    if (unit == std::size(LENGTH_UNITS)) {
      return bad_value(UNITS_OPTION, text, "one of m, cm, mm, um, in, ft");
    }
    units.unit = unit;
  }
  for (const SpeedHint& hint : SPEED_HINTS) {
    if (settings.sound_speed != hint.sound_speed) continue;
    const std::string speed = format::general_text(hint.sound_speed, 9);
    if (given) {
      return "--sound-speed " + speed + " with --units: the sound speed is in metres per " +
             "second whatever the model's unit (" +
             format::general_text(geometry::DECK_SOUND_SPEED, 6) +
             " for air); give it in m/s or leave it out";
    }
    units.unit = hint.unit;
    units.implying_sound_speed = hint.sound_speed;
    settings.sound_speed = geometry::DECK_SOUND_SPEED;
  }
  return {};
}

std::string units_help() {
  return "  --units U                    the unit of the model's coordinates: m, cm, mm,\n"
         "                               um, in or ft (default m); lengths are stated in m\n";
}

std::string units_text(const ModelUnits& units) {
  const LengthUnit& unit = units.length_unit();
  if (units.implying_sound_speed != 0.0) {
    return "sound speed " + format::general_text(units.implying_sound_speed, 9) +
           ": model units taken as " + std::string(unit.words) + " (use --units " +
           std::string(unit.name) + "), stated in metres (x " + factor_text(unit.factor) + ")";
  }
  if (units.metres()) return "metres (for a model in other units give --units, e.g. --units mm)";
  return std::string(unit.words) + ", stated in metres (x " + factor_text(unit.factor) + ")";
}

ScaleProblem find_scale_problem(std::span<const geometry::Triangle> facets, double factor) {
  if (factor == 1.0) return {};
  for (std::size_t f = 0; f < facets.size(); ++f) {
    for (const geometry::Point& corner : facets[f]) {
      for (const double coordinate : corner) {
        if (scales_out_of_range(coordinate, factor)) {
          return {true, std::abs(coordinate * factor) > 1.0, coordinate, f};
        }
      }
    }
  }
  return {};
}

std::string scale_problem_text(const ScaleProblem& problem, const LengthUnit& unit,
                               std::string_view where) {
  char shortest[32];
  const char* end = std::to_chars(shortest, shortest + sizeof shortest, problem.coordinate).ptr;
  return "the coordinate " + std::string(static_cast<const char*>(shortest), end) + " " +
         std::string(where) +
         (problem.overflow ? " is beyond the largest number, 1.8e308,"
                           : " falls below the smallest normal number, 2.2e-308,") +
         " once in metres (x " + factor_text(unit.factor) + " for " + std::string(unit.words) + ")";
}

}  // namespace companion
