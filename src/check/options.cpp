#include "check/options.h"

#include "companion/frequency_options.h"
#include "companion/options.h"
#include "companion/shape_options.h"
#include "companion/units.h"

namespace check {
namespace {

enum Option : std::size_t {
  json,
  view,
  frequency,
  sound_speed,
  elements_per_wavelength,
  units,
  help,
  min_angle,
};
constexpr companion::OptionRule RULES[] = {
    {"--json", false, ""},
    {"--view", true, ""},
    {companion::FREQUENCY_OPTION, true, ""},
    {companion::SOUND_SPEED_OPTION, true, ""},
    {companion::ELEMENTS_OPTION, true, ""},
    {companion::UNITS_OPTION, true, ""},
    {"--help", false, "-h"},
    {companion::MIN_ANGLE_OPTION, true, ""},
};

}  // namespace

std::string usage() {
  return std::string(
      "usage: stldeck-check [--json] [--view VIEW] [--units U] [--frequency HZ]\n"
      "                     [--sound-speed C] [--elements-per-wavelength K]\n"
      "                     [--min-angle DEG] [FILE]\n"
      "Checks whether the STL file FILE (default STL_Model.stl) is ready for the\n"
      "solver: read exactly as stldeck reads it, in metres, closed, consistently\n"
      "oriented, and fine enough for the frequency. A binary file, which stldeck does\n"
      "not read, is read whole all the same and its geometry checked.\n"
      "  --json                       print one JSON object instead of a summary\n"
      "  --view VIEW                  write the model and its findings to VIEW, a Tecplot\n"
      "                               ASCII file with one zone per kind of finding\n" +
      companion::units_help() + companion::frequency_options_help("") +
      companion::min_angle_help() +
      "  --help                       print this text\n"
      "Exit status: 0 ready, 1 not ready, 2 usage error or unreadable file.\n");
}

std::string parse_options(std::span<const std::string_view> arguments, CheckOptions& options) {
  const companion::ReadOptions read = companion::read_options(arguments, RULES);
  if (!read.problem.empty()) return read.problem;
  if (read.operands.size() > 1) return "only one FILE may be given (try --help)";
  if (!read.operands.empty()) options.path = read.operands[0];
  options.json = read.has(json);
  options.help = read.has(help);
  if (read.has(view)) {
    options.view_path = *read.values[view];
    if (options.view_path.empty()) return "--view needs a file name";
  }
  if (std::string problem = companion::read_min_angle(read, RULES, options.min_angle_degrees);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = companion::read_frequency_settings(read, RULES, options.settings);
      !problem.empty()) {
    return problem;
  }
  return companion::read_model_units(read, RULES, options.settings, options.units);
}

}  // namespace check
