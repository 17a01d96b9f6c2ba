// The model check's command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "check/readiness.h"
#include "companion/units.h"
#include "geometry/facet_soup.h"

namespace check {

struct CheckOptions {
  bool json = false;
  bool help = false;
  std::string path = "STL_Model.stl";
  std::string view_path;   // --view FILE; empty for none
  CheckSettings settings;  // the sound speed in metres per second
  companion::ModelUnits units;
  // Facets with a smaller angle are degenerate (needles and caps).
  double min_angle_degrees = geometry::DEFAULT_MIN_ANGLE_DEGREES;
};

// The text --help prints; the defaults named in it are the deck's own.
std::string usage();

// Reads the arguments after the program name. Returns an empty string, or
// the one-line reason the command line is not usable.
std::string parse_options(std::span<const std::string_view> arguments, CheckOptions& options);

}  // namespace check
