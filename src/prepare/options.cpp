#include "prepare/options.h"

#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

#include "companion/frequency_options.h"
#include "companion/options.h"
#include "companion/shape_options.h"
#include "companion/units.h"

namespace prepare {
namespace {

constexpr double NO_BOUND = std::numeric_limits<double>::infinity();

enum Option : std::size_t {
  json,
  no_refine,
  refine_only,
  weld,
  feature_angle,
  max_deviation,
  frequency,
  sound_speed,
  elements_per_wavelength,
  units,
  help,
  min_angle,
};
constexpr companion::OptionRule RULES[] = {
    {"--json", false, ""},
    {"--no-refine", false, ""},
    {"--refine-only", false, ""},
    {"--weld", true, ""},
    {"--feature-angle", true, ""},
    {"--max-deviation", true, ""},
    {companion::FREQUENCY_OPTION, true, ""},
    {companion::SOUND_SPEED_OPTION, true, ""},
    {companion::ELEMENTS_OPTION, true, ""},
    {companion::UNITS_OPTION, true, ""},
    {"--help", false, "-h"},
    {companion::MIN_ANGLE_OPTION, true, ""},
};

// The value of `option` when it was given: a finite number above zero and,
// when `below` is finite, below it. An empty string, or why not.
std::string read_positive(const companion::ReadOptions& read, Option option, double below,
                          double& value) {
  if (!read.has(option)) return {};
  const std::string& text = *read.values[option];
  const std::optional<double> number = companion::read_number(text);
  if (!number || !(*number > 0.0) || !(*number < below)) {
    return companion::bad_value(
        RULES[option].name, text,
        below < NO_BOUND ? "a number above 0 and below 180" : "a positive number");
  }
  value = *number;
  return {};
}

}  // namespace

std::string usage() {
  return std::string(
      "usage: stldeck-prepare [--units U] [--frequency HZ] [--sound-speed C]\n"
      "                       [--elements-per-wavelength K] [--refine-only | --no-refine]\n"
      "                       [--feature-angle DEG] [--max-deviation D] [--weld DISTANCE]\n"
      "                       [--min-angle DEG] [--json] IN [OUT]\n"
      "Reads the STL model IN (binary, or ASCII in any common style), mends what the\n"
      "check finds (corners a rounding apart, degenerate and repeated facets, facets\n"
      "turned against their neighbours, shells turned inside out), remeshes the\n"
      "surface into well-shaped triangles with every edge at most wavelength / K,\n"
      "keeping sharp edges and borders and staying within a small deviation of the\n"
      "surface, and writes OUT (default STL_Model.stl) in metres, in the style\n"
      "stldeck reads. Holes are never filled.\n" +
      companion::units_help() + companion::frequency_options_help("") +
      "  --refine-only                bisect facets instead of remeshing: the surface\n"
      "                               stays exactly as it was, shapes are kept\n"
      "  --weld DISTANCE              join open edges that face another across a gap at\n"
      "                               most DISTANCE wide (m), as the check reports\n"
      "  --no-refine                  mend only, never split a facet\n"
      "  --feature-angle DEG          facets whose normals differ by more meet at a\n"
      "                               sharp edge, which the remesh keeps (default 30)\n"
      "  --max-deviation D            how far the remesh may move the surface (default\n"
      "                               the smaller of max side / 25 and diagonal / 1000)\n"
      "  --json                       print one JSON object instead of a summary\n" +
      companion::min_angle_help() +
      "  --help                       print this text\n"
      "Exit status: 0 written and ready, 1 written but findings remain (nothing\n"
      "written when no facet is left), 2 usage error, unreadable input, or a result\n"
      "too large for stldeck (nothing written).\n");
}

std::string parse_options(std::span<const std::string_view> arguments, PrepareOptions& options) {
  const companion::ReadOptions read = companion::read_options(arguments, RULES);
  if (!read.problem.empty()) return read.problem;
  if (read.operands.size() > 2) return "at most IN and OUT may be given (try --help)";
  options.json = read.has(json);
  options.help = read.has(help);
  options.refine = !read.has(no_refine);
  options.refine_only = read.has(refine_only);
  for (const auto& [option, below, value] : {
           std::tuple{weld, NO_BOUND, &options.weld_distance},
           std::tuple{feature_angle, 180.0, &options.feature_angle_degrees},
           std::tuple{max_deviation, NO_BOUND, &options.max_deviation},
       }) {
    if (std::string problem = read_positive(read, option, below, *value); !problem.empty()) {
      return problem;
    }
  }
  if (std::string problem = companion::read_min_angle(read, RULES, options.min_angle_degrees);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = companion::read_frequency_settings(read, RULES, options);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = companion::read_model_units(read, RULES, options, options.units);
      !problem.empty()) {
    return problem;
  }
  // In a unit smaller than the metre the same lengths are larger numbers,
  // which must stay finite.
  const PrepareOptions model = in_model_units(options);
  if (!std::isfinite(model.max_side()) || !std::isfinite(model.sound_speed) ||
      !std::isfinite(model.sound_speed / model.elements_per_wavelength) ||
      !std::isfinite(model.weld_distance) || !std::isfinite(model.max_deviation)) {
    return "--units " + std::string(options.units.length_unit().name) +
           ": the sound speed or a length given is beyond the largest number in " +
           std::string(options.units.length_unit().words);
  }
  if (options.help) return {};
  if (read.operands.empty()) return "no input model given (try --help)";
  options.input = read.operands[0];
  if (read.operands.size() == 2) {
    options.output = read.operands[1];
    // Refused before the model is read, not after all the work.
    if (options.output.empty()) return "OUT is an empty name";
  }
  if (options.refine_only && !options.refine) {
    return "--refine-only and --no-refine exclude each other";
  }
  return {};
}

PrepareOptions in_model_units(const PrepareOptions& options) {
  PrepareOptions model = options;
  const double factor = options.units.factor();
  if (factor == 1.0) return model;
  model.sound_speed /= factor;
  model.weld_distance /= factor;
  model.max_deviation /= factor;
  return model;
}

}  // namespace prepare
