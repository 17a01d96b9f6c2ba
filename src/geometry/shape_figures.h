// The figures that say how well a surface suits a boundary-element solve:
// how many elements it has against how many it needs, and how well shaped
// they are.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "geometry/facet_soup.h"

namespace geometry {

struct ShapeFigures {
  std::int64_t facets = 0;
  double area = 0.0;
  // The enclosed volume by the divergence theorem: meaningful for closed,
  // outward shells (a cavity counts negative).
  double volume = 0.0;
  double smallest_angle_degrees = 0.0;  // 0 without a facet
  // Longest side over shortest height, scaled so that an equilateral
  // triangle has 1; infinite for a facet without area.
  double largest_aspect_ratio = 0.0;
  double longest_side = 0.0;
};

ShapeFigures measure_shapes(std::span<const Triangle> facets);

// How many equilateral triangles with sides of `side` cover `area`: the
// fewest elements a mesh within that side can have, near enough.
double equilateral_estimate(double area, double side);

// The corner angles of a facet in degrees, at corners 0, 1 and 2.
std::array<double, 3> corner_angles_degrees(const Triangle& facet);

// The aspect ratio of one facet as in ShapeFigures.
double aspect_ratio(const Triangle& facet);

}  // namespace geometry
