// The model check's command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "check/readiness.h"

namespace check {

struct CheckOptions {
  bool json = false;
  bool help = false;
  std::string path = "STL_Model.stl";
  std::string view_path;  // --view FILE; empty for none
  CheckSettings settings;
};

inline constexpr std::string_view USAGE =
    "usage: stldeck-check [--json] [--view VIEW] [--frequency HZ] [--sound-speed C]\n"
    "                     [--elements-per-wavelength K] [FILE]\n"
    "Checks whether the ASCII STL file FILE (default STL_Model.stl) is ready for the\n"
    "solver: read exactly as stldeck reads it, closed, consistently oriented, and\n"
    "fine enough for the frequency.\n"
    "  --json                       print one JSON object instead of a summary\n"
    "  --view VIEW                  write the model and its findings to VIEW, a Tecplot\n"
    "                               ASCII file with one zone per kind of finding\n"
    "  --frequency HZ               frequency to mesh for (default 54.59)\n"
    "  --sound-speed C              speed of sound, model units per second (default 343.0,\n"
    "                               for metres; 343000 for a model in millimetres)\n"
    "  --elements-per-wavelength K  elements wanted per wavelength (default 6)\n"
    "  --help                       print this text\n"
    "Exit status: 0 ready, 1 not ready, 2 usage error or unreadable file.\n";

// Reads the arguments after the program name. Returns an empty string, or
// the one-line reason the command line is not usable.
std::string parse_options(std::span<const std::string_view> arguments, CheckOptions& options);

}  // namespace check
