#include "geometry/shape_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace geometry {
namespace {

// |u|, by the plain square root where the square is safe, which is nearly
// always and much faster.
double norm(const Point& u) {
  const double square = dot(u, u);
  return is_safe_square(square) ? std::sqrt(square) : length(u);
}

// The angle between u and w in degrees. atan2 of |u x w| and u . w stays
// accurate for angles near 0 and 180, where acos of the cosine loses half
// the digits. Vectors whose products would overflow or vanish are scaled by
// a power of two first, which changes no digit of the angle.
double angle_degrees(Point u, Point w) {
  const double largest = std::max(largest_magnitude(u), largest_magnitude(w));
  if (largest > 0.0 && !is_safe_square(largest * largest)) {
    const int exponent = std::ilogb(largest);
    for (std::size_t k = 0; k < 3; ++k) {
      u[k] = std::ldexp(u[k], -exponent);
      w[k] = std::ldexp(w[k], -exponent);
    }
  }
  return std::atan2(norm(cross(u, w)), dot(u, w)) * 180.0 / std::numbers::pi;
}

}  // namespace

std::array<double, 3> corner_angles_degrees(const Triangle& facet) {
  std::array<double, 3> angles{};
  for (std::size_t k = 0; k < 3; ++k) {
    angles[k] = angle_degrees(difference(facet[(k + 1) % 3], facet[k]),
                              difference(facet[(k + 2) % 3], facet[k]));
  }
  return angles;
}

double smallest_angle_degrees(const Triangle& facet) {
  // The smallest angle faces the shortest side (by the law of sines), so
  // one angle is measured instead of three. Side k runs from corner k to
  // corner k + 1 and faces corner k + 2. Lengths rather than squares where
  // the squares would leave their safe range.
  std::array<double, 3> sides{};
  bool safe = true;
  for (std::size_t k = 0; k < 3; ++k) {
    const Point u = difference(facet[(k + 1) % 3], facet[k]);
    sides[k] = dot(u, u);
    safe = safe && (sides[k] == 0.0 || is_safe_square(sides[k]));
  }
  if (!safe) {
    for (std::size_t k = 0; k < 3; ++k) {
      sides[k] = length(difference(facet[(k + 1) % 3], facet[k]));
    }
  }
  std::size_t shortest = 0;
  if (sides[1] < sides[shortest]) shortest = 1;
  if (sides[2] < sides[shortest]) shortest = 2;
  const std::size_t corner = (shortest + 2) % 3;
  return angle_degrees(difference(facet[shortest], facet[corner]),
                       difference(facet[(shortest + 1) % 3], facet[corner]));
}

double aspect_ratio(const Triangle& facet) {
  // Shortest height = 2A / longest; an equilateral triangle's ratio
  // longest / height is 2 / sqrt(3). The ratio does not depend on the
  // size, so sides whose squares or cross product would overflow or
  // vanish are scaled by a power of two first.
  std::array<Point, 3> sides = {difference(facet[1], facet[0]), difference(facet[2], facet[1]),
                                difference(facet[0], facet[2])};
  const double largest = std::max(
      {largest_magnitude(sides[0]), largest_magnitude(sides[1]), largest_magnitude(sides[2])});
  if (!(largest > 0.0)) return std::numeric_limits<double>::infinity();
  if (!is_safe_square(largest * largest)) {
    const int exponent = std::ilogb(largest);
    for (Point& side : sides) {
      for (double& v : side) v = std::ldexp(v, -exponent);
    }
  }
  const double longest_square =
      std::max({dot(sides[0], sides[0]), dot(sides[1], sides[1]), dot(sides[2], sides[2])});
  const double doubled_area = norm(cross(sides[0], sides[1]));
  if (!(doubled_area > 0.0)) return std::numeric_limits<double>::infinity();
  return longest_square / doubled_area * (std::numbers::sqrt3 / 2.0);
}

ShapeExtremes find_shape_extremes(std::span<const Triangle> facets) {
  ShapeExtremes extremes;
  extremes.smallest_angle_degrees = 180.0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (!is_finite(facets[f])) continue;
    if (!extremes.any) {
      extremes.smallest_angle_facet = f;
      extremes.largest_aspect_ratio_facet = f;
      extremes.any = true;
    }
    const double angle = smallest_angle_degrees(facets[f]);
    if (angle < extremes.smallest_angle_degrees) {
      extremes.smallest_angle_degrees = angle;
      extremes.smallest_angle_facet = f;
    }
    const double ratio = aspect_ratio(facets[f]);
    if (ratio > extremes.largest_aspect_ratio) {
      extremes.largest_aspect_ratio = ratio;
      extremes.largest_aspect_ratio_facet = f;
    }
  }
  if (!extremes.any) extremes.smallest_angle_degrees = 0.0;
  return extremes;
}

ShapeFigures measure_shapes(std::span<const Triangle> facets) {
  ShapeFigures figures;
  figures.facets = static_cast<std::int64_t>(facets.size());
  // The volume is summed about a corner of the model rather than the
  // origin, which keeps its digits for a model far from the origin.
  const Point origin = facets.empty() ? Point{} : facets[0][0];
  for (const Triangle& facet : facets) {
    figures.area += twice_area(facet) * 0.5;
    const Point a = difference(facet[0], origin);
    const Point b = difference(facet[1], origin);
    const Point c = difference(facet[2], origin);
    figures.volume += dot(a, cross(b, c)) / 6.0;
  }
  const ShapeExtremes extremes = find_shape_extremes(facets);
  figures.smallest_angle_degrees = extremes.smallest_angle_degrees;
  figures.smallest_angle_facet = extremes.smallest_angle_facet;
  figures.largest_aspect_ratio = extremes.largest_aspect_ratio;
  figures.largest_aspect_ratio_facet = extremes.largest_aspect_ratio_facet;
  figures.longest_side = longest_side(facets);
  return figures;
}

double equilateral_estimate(double area, double side) {
  return area / (std::numbers::sqrt3 / 4.0 * side * side);
}

}  // namespace geometry
