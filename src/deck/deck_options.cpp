#include "deck/deck_options.h"

#include <array>

#include "companion/options.h"

namespace deck {
namespace {

enum Option : std::size_t {
  json,
  view,
  elements_per_wavelength,
  sound_speed,
  density,
  frequency,
  frequencies,
  octave,
  solver,
  help,
};
constexpr std::array<companion::OptionRule, 10> RULES = {{
    {"--json"},
    {"--view", true},
    {"--elements-per-wavelength", true},
    {"--sound-speed", true},
    {"--density", true},
    {"--frequency", true},
    {"--frequencies", true},
    {"--octave", true},
    {"--solver", true},
    {"--help", false, "-h"},
}};

constexpr std::string_view POSITIVE = "a positive number";

std::string positive(const companion::ReadOptions& read, Option option, double& value) {
  const std::string& text = *read.values[option];
  const std::optional<double> number = companion::read_number(text);
  if (!number || !(*number > 0.0)) return companion::bad_value(RULES[option].name, text, POSITIVE);
  value = *number;
  return {};
}

}  // namespace

std::string parse_options(std::span<const std::string_view> arguments, DeckOptions& options) {
  const companion::ReadOptions read = companion::read_options(arguments, RULES);
  if (!read.problem.empty()) return read.problem;
  if (read.operands.size() > 1) return "only one DECK may be given (try --help)";
  if (!read.operands.empty()) options.path = read.operands[0];
  options.json = read.has(json);
  options.help = read.has(help);
  if (read.has(view)) {
    options.view_path = *read.values[view];
    options.view_given = true;
    if (options.view_path.empty()) return "--view needs a file name";
  }
  DeckSettings& settings = options.settings;
  double value = 0.0;
  if (read.has(elements_per_wavelength)) {
    if (std::string problem = positive(read, elements_per_wavelength, value); !problem.empty()) {
      return problem;
    }
    options.elements_per_wavelength = value;
  }
  for (const Option option : {sound_speed, density}) {
    if (!read.has(option)) continue;
    if (std::string problem = positive(read, option, value); !problem.empty()) return problem;
    (option == sound_speed ? settings.sound_speed : settings.density) = value;
  }
  if (read.has(frequency) && read.has(frequencies)) {
    return "--frequency and --frequencies both set the frequencies: give one of them";
  }
  if (read.has(frequency)) {
    if (std::string problem = positive(read, frequency, value); !problem.empty()) return problem;
    settings.first_frequency = value;
    settings.last_frequency = value;
    settings.frequencies = 1;
  }
  if (read.has(frequencies)) {
    const std::string& text = *read.values[frequencies];
    const std::size_t colon = text.find(':');
    const std::size_t second = colon == std::string::npos ? colon : text.find(':', colon + 1);
    const std::string_view whole(text);
    // Plain values, a missing or unreadable part read as 0 (which is
    // refused): g++ under the thread sanitizer takes optionals built in a
    // conditional for uninitialised.
    const double first = companion::read_number(whole.substr(0, colon)).value_or(0.0);
    const double last =
        second == std::string::npos
            ? 0.0
            : companion::read_number(whole.substr(colon + 1, second - colon - 1)).value_or(0.0);
    const long long count =
        second == std::string::npos
            ? 0
            : companion::read_whole_number(whole.substr(second + 1)).value_or(0);
    if (!(first > 0.0) || !(last > 0.0) || count < 1) {
      return companion::bad_value("--frequencies", text,
                                  "F1:F2:N, two positive numbers and a count of at least 1");
    }
    if (count > MAX_FREQUENCIES) {
      return "--frequencies: " + std::to_string(count) +
             " frequencies do not fit the deck's field: at most " + std::to_string(MAX_FREQUENCIES);
    }
    settings.first_frequency = first;
    settings.last_frequency = last;
    settings.frequencies = static_cast<std::int32_t>(count);
  }
  if (read.has(octave)) {
    const std::string& text = *read.values[octave];
    const std::optional<long long> steps = companion::read_whole_number(text);
    if (!steps) return companion::bad_value("--octave", text, "a whole number of 0 or more");
    if (*steps > MAX_OCTAVE_STEPS) {
      return "--octave: " + text + " does not fit the deck's NOctave field: at most " +
             std::to_string(MAX_OCTAVE_STEPS);
    }
    settings.octave_steps = static_cast<std::int32_t>(*steps);
  }
  if (read.has(solver)) {
    const std::string& text = *read.values[solver];
    if (text == "fmm") {
      settings.solver = Solver::fmm;
    } else if (text == "aca") {
      settings.solver = Solver::aca;
    } else if (text == "cbem") {
      settings.solver = Solver::cbem;
    } else {
      return companion::bad_value("--solver", text, "fmm, aca or cbem");
    }
  }
  if (settings.any() && (options.view_given || read.has(elements_per_wavelength))) {
    return "--view and --elements-per-wavelength verify a deck; they do not go with settings";
  }
  return {};
}

}  // namespace deck
