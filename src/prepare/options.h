// The preparation's command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "geometry/frequency_settings.h"

namespace prepare {

// The frequency settings and their max_side() as the check has them.
struct PrepareOptions : geometry::FrequencySettings {
  bool json = false;
  bool help = false;
  bool refine = true;
  // Open edges facing another across a gap at most this wide (model units)
  // are joined; 0 joins none.
  double weld_distance = 0.0;
  // Bisection instead of the remesh: the surface exactly as it was.
  bool refine_only = false;
  // Neighbouring facets whose normals differ by more than this meet at a
  // sharp edge, which the remesh keeps.
  double feature_angle_degrees = 30.0;
  // How far the remesh may move the surface; 0 for the default
  // (remesh_step.h).
  double max_deviation = 0.0;
  std::string input;
  std::string output = "STL_Model.stl";
};

inline constexpr std::string_view USAGE =
    "usage: stldeck-prepare [--frequency HZ] [--sound-speed C]\n"
    "                       [--elements-per-wavelength K] [--refine-only | --no-refine]\n"
    "                       [--feature-angle DEG] [--max-deviation D] [--weld DISTANCE]\n"
    "                       [--json] IN [OUT]\n"
    "Reads the STL model IN (binary, or ASCII in any common style), mends what the\n"
    "check finds (corners a rounding apart, degenerate and repeated facets, facets\n"
    "turned against their neighbours, shells turned inside out), remeshes the\n"
    "surface into well-shaped triangles with every edge at most wavelength / K,\n"
    "keeping sharp edges and borders and staying within a small deviation of the\n"
    "surface, and writes OUT (default\n"
    "STL_Model.stl) in the style stldeck reads. Holes are never filled.\n"
    "  --frequency HZ               frequency to mesh for (default 54.59)\n"
    "  --sound-speed C              speed of sound, model units per second (default 343.0)\n"
    "  --elements-per-wavelength K  elements wanted per wavelength (default 6)\n"
    "  --refine-only                bisect facets instead of remeshing: the surface\n"
    "                               stays exactly as it was, shapes are kept\n"
    "  --weld DISTANCE              join open edges that face another across a gap at\n"
    "                               most DISTANCE wide (model units), as the check reports\n"
    "  --no-refine                  mend only, never split a facet\n"
    "  --feature-angle DEG          facets whose normals differ by more meet at a\n"
    "                               sharp edge, which the remesh keeps (default 30)\n"
    "  --max-deviation D            how far the remesh may move the surface (default\n"
    "                               the smaller of max side / 25 and diagonal / 1000)\n"
    "  --json                       print one JSON object instead of a summary\n"
    "  --help                       print this text\n"
    "Exit status: 0 written and ready, 1 written but findings remain (nothing\n"
    "written when no facet is left), 2 usage error, unreadable input, or a result\n"
    "too large for stldeck (nothing written).\n";

// Reads the arguments after the program name. Returns an empty string, or
// the one-line reason the command line is not usable.
std::string parse_options(std::span<const std::string_view> arguments, PrepareOptions& options);

}  // namespace prepare
