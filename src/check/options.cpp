#include "check/options.h"

#include "companion/frequency_options.h"
#include "companion/options.h"

namespace check {
namespace {

enum Option : std::size_t { json, view, frequency, sound_speed, elements_per_wavelength, help };
constexpr companion::OptionRule RULES[] = {
    {"--json", false, ""},
    {"--view", true, ""},
    {companion::FREQUENCY_OPTION, true, ""},
    {companion::SOUND_SPEED_OPTION, true, ""},
    {companion::ELEMENTS_OPTION, true, ""},
    {"--help", false, "-h"},
};

}  // namespace

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
  return companion::read_frequency_settings(read, RULES, options.settings);
}

}  // namespace check
