#include "prepare/options.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "format/terminal_text.h"

namespace prepare {
namespace {

struct NumberOption {
  std::string_view name;
  double PrepareOptions::*setting;
};

constexpr NumberOption NUMBER_OPTIONS[] = {
    {              "--frequency",            &PrepareOptions::frequency_hz},
    {            "--sound-speed",             &PrepareOptions::sound_speed},
    {"--elements-per-wavelength", &PrepareOptions::elements_per_wavelength},
};

// A finite number above zero, the whole text of it, with an optional "+".
bool read_positive(std::string_view text, double& value) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  double read = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), read);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  if (!std::isfinite(read) || !(read > 0.0)) return false;
  value = read;
  return true;
}

std::string shown(std::string_view text) {
  std::string quoted = "'";
  format::escape_for_terminal(text, [&quoted](std::string_view piece) { quoted += piece; });
  return quoted + "'";
}
}  // namespace

std::string parse_options(std::span<const std::string_view> arguments, PrepareOptions& options) {
  std::size_t paths = 0;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!options_ended && argument.starts_with("-") && argument != "-") {
      if (argument == "--") {
        options_ended = true;
      } else if (argument == "--json") {
        options.json = true;
      } else if (argument == "--no-refine") {
        options.refine = false;
      } else if (argument == "--help" || argument == "-h") {
        options.help = true;
      } else {
        const NumberOption* matched = nullptr;
        std::string_view value;
        bool has_value = false;
        for (const NumberOption& option : NUMBER_OPTIONS) {
          if (argument == option.name) {
            matched = &option;
            if (i + 1 < arguments.size()) {
              value = arguments[++i];
              has_value = true;
            }
          } else if (argument.starts_with(option.name) && argument[option.name.size()] == '=') {
            matched = &option;
            value = argument.substr(option.name.size() + 1);
            has_value = true;
          }
          if (matched != nullptr) break;
        }
        if (matched == nullptr) return "unknown option " + shown(argument) + " (try --help)";
        if (!has_value) return std::string(matched->name) + " needs a value";
        if (!read_positive(value, options.*(matched->setting))) {
          return std::string(matched->name) + " needs a positive number, not " + shown(value);
        }
      }
      continue;
    }
    if (paths == 0) options.input = std::string(argument);
    if (paths == 1) options.output = std::string(argument);
    if (++paths > 2) return "at most IN and OUT may be given (try --help)";
  }
  if (options.help) return {};
  if (paths == 0) return "no input model given (try --help)";
  const double wavelength = options.sound_speed / options.frequency_hz;
  const double side = options.max_side();
  if (!std::isfinite(wavelength) || !(wavelength > 0.0) || !std::isfinite(side) || !(side > 0.0)) {
    return "the wavelength C / HZ / K of these values is not a finite length above zero";
  }
  return {};
}

}  // namespace prepare
