// The preparation's command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "companion/units.h"
#include "geometry/facet_soup.h"
#include "geometry/frequency_settings.h"

namespace prepare {

// The frequency settings and their max_side() as the check has them. As
// read from the command line, every length (and the sound speed) is in
// metres; the model file alone is in `units`.
struct PrepareOptions : geometry::FrequencySettings {
  bool json = false;
  bool help = false;
  bool refine = true;
  // Open edges facing another across a gap at most this wide are joined;
  // 0 joins none.
  double weld_distance = 0.0;
  // Bisection instead of the remesh: the surface exactly as it was.
  bool refine_only = false;
  // Neighbouring facets whose normals differ by more than this meet at a
  // sharp edge, which the remesh keeps.
  double feature_angle_degrees = 30.0;
  // How far the remesh may move the surface; 0 for the default
  // (remesh_step.h).
  double max_deviation = 0.0;
  // Facets with a smaller angle are degenerate and mended.
  double min_angle_degrees = geometry::DEFAULT_MIN_ANGLE_DEGREES;
  std::string input;
  std::string output = "STL_Model.stl";
  companion::ModelUnits units;
};

// The same options with the lengths and the sound speed in the model's
// own units, as the mending and the refinement work on the model as read.
PrepareOptions in_model_units(const PrepareOptions& options);

// The text --help prints; the defaults named in it are the deck's own.
std::string usage();

// Reads the arguments after the program name. Returns an empty string, or
// the one-line reason the command line is not usable.
std::string parse_options(std::span<const std::string_view> arguments, PrepareOptions& options);

}  // namespace prepare
