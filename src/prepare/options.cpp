#include "prepare/options.h"

#include <limits>
#include <optional>
#include <tuple>

#include "companion/frequency_options.h"
#include "companion/options.h"

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
  help,
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
    {"--help", false, "-h"},
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
  if (std::string problem = companion::read_frequency_settings(read, RULES, options);
      !problem.empty()) {
    return problem;
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

}  // namespace prepare
