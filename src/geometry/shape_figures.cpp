#include "geometry/shape_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace geometry {
namespace {

Point difference(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

double dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Point cross(const Point& a, const Point& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double norm(const Point& a) { return std::hypot(a[0], a[1], a[2]); }

}  // namespace

std::array<double, 3> corner_angles_degrees(const Triangle& facet) {
  std::array<double, 3> angles{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Point u = difference(facet[(k + 1) % 3], facet[k]);
    const Point w = difference(facet[(k + 2) % 3], facet[k]);
    // atan2 of |u x w| and u . w stays accurate for angles near 0 and 180,
    // where acos of the cosine loses half the digits.
    angles[k] = std::atan2(norm(cross(u, w)), dot(u, w)) * 180.0 / std::numbers::pi;
  }
  return angles;
}

double aspect_ratio(const Triangle& facet) {
  double longest = 0.0;
  for (std::size_t k = 0; k < 3; ++k) {
    longest = std::max(longest, norm(difference(facet[(k + 1) % 3], facet[k])));
  }
  const double doubled_area = twice_area(facet);
  if (!(doubled_area > 0.0)) return std::numeric_limits<double>::infinity();
  // Shortest height = 2A / longest; an equilateral triangle's ratio
  // longest / height is 2 / sqrt(3).
  return longest * longest / doubled_area * (std::numbers::sqrt3 / 2.0);
}

ShapeFigures measure_shapes(std::span<const Triangle> facets) {
  ShapeFigures figures;
  figures.facets = static_cast<std::int64_t>(facets.size());
  figures.smallest_angle_degrees = facets.empty() ? 0.0 : 180.0;
  // The volume is summed about a corner of the model rather than the
  // origin, which keeps its digits for a model far from the origin.
  const Point origin = facets.empty() ? Point{} : facets[0][0];
  for (const Triangle& facet : facets) {
    figures.area += twice_area(facet) * 0.5;
    const Point a = difference(facet[0], origin);
    const Point b = difference(facet[1], origin);
    const Point c = difference(facet[2], origin);
    figures.volume += dot(a, cross(b, c)) / 6.0;
    const std::array<double, 3> angles = corner_angles_degrees(facet);
    figures.smallest_angle_degrees =
        std::min({figures.smallest_angle_degrees, angles[0], angles[1], angles[2]});
    figures.largest_aspect_ratio = std::max(figures.largest_aspect_ratio, aspect_ratio(facet));
  }
  figures.longest_side = longest_side(facets);
  return figures;
}

double equilateral_estimate(double area, double side) {
  return area / (std::numbers::sqrt3 / 4.0 * side * side);
}

}  // namespace geometry
