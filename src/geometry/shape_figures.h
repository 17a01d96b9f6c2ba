// The figures that say how well a surface suits a boundary-element solve:
// how many elements it has against how many it needs, and how well shaped
// they are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "geometry/facet_soup.h"

namespace geometry {

// The worst-shaped facets of a model: the smallest corner angle and the
// largest aspect ratio, and the facets (0-based) where they lie, the first
// of equal ones. Facets with a coordinate that is not finite take no part.
struct ShapeExtremes {
  double smallest_angle_degrees = 0.0;  // 0 without a finite facet
  std::size_t smallest_angle_facet = 0;
  // Longest side over shortest height, scaled so that an equilateral
  // triangle has 1; infinite for a facet without area. 0 without a facet.
  double largest_aspect_ratio = 0.0;
  std::size_t largest_aspect_ratio_facet = 0;
  bool any = false;  // whether a finite facet was measured
};

ShapeExtremes find_shape_extremes(std::span<const Triangle> facets);

struct ShapeFigures {
  std::int64_t facets = 0;
  double area = 0.0;
  // The enclosed volume by the divergence theorem: meaningful for closed,
  // outward shells (a cavity counts negative).
  double volume = 0.0;
  double smallest_angle_degrees = 0.0;  // 0 without a facet
  // As in ShapeExtremes.
  double largest_aspect_ratio = 0.0;
  double longest_side = 0.0;
  std::size_t smallest_angle_facet = 0;
  std::size_t largest_aspect_ratio_facet = 0;
};

ShapeFigures measure_shapes(std::span<const Triangle> facets);

// How many equilateral triangles with sides of `side` cover `area`: the
// fewest elements a mesh within that side can have, near enough.
double equilateral_estimate(double area, double side);

// The corner angles of a facet in degrees, at corners 0, 1 and 2.
std::array<double, 3> corner_angles_degrees(const Triangle& facet);

// The smallest corner angle of a facet in degrees: the one facing its
// shortest side, measured alone.
double smallest_angle_degrees(const Triangle& facet);

// The aspect ratio of one facet as in ShapeExtremes.
double aspect_ratio(const Triangle& facet);

}  // namespace geometry
