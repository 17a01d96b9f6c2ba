#include "geometry/shape_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace geometry {
std::array<double, 3> corner_angles_degrees(const Triangle& facet) {
  std::array<double, 3> angles{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Point u = difference(facet[(k + 1) % 3], facet[k]);
    const Point w = difference(facet[(k + 2) % 3], facet[k]);
    // atan2 of |u x w| and u . w stays accurate for angles near 0 and 180,
    // where acos of the cosine loses half the digits.
    angles[k] = std::atan2(length(cross(u, w)), dot(u, w)) * 180.0 / std::numbers::pi;
  }
  return angles;
}

double aspect_ratio(const Triangle& facet) {
  const double longest = longest_side_of(facet).length;
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
