#include "geometry/facet_soup.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

namespace geometry {
namespace {

// The sides b - a, c - a, c - b, halved when a difference of finite
// coordinates overflows, then scaled by a power of two so that the largest
// component lies in [1, 2): the ratios the sliver test compares do not
// change, and no square can overflow or lose all its digits.
std::array<Point, 3> scaled_sides(const Triangle& t) {
  const auto& [a, b, c] = t;
  std::array<Point, 3> sides = {difference(b, a), difference(c, a), difference(c, b)};
  double largest = 0.0;
  for (const Point& side : sides) largest = std::max(largest, largest_magnitude(side));
  if (!std::isfinite(largest)) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
      sides[0][axis] = b[axis] / 2 - a[axis] / 2;
      sides[1][axis] = c[axis] / 2 - a[axis] / 2;
      sides[2][axis] = c[axis] / 2 - b[axis] / 2;
    }
    largest = 0.0;
    for (const Point& side : sides) largest = std::max(largest, largest_magnitude(side));
  }
  if (largest == 0.0) return sides;
  const int exponent = std::ilogb(largest);
  for (Point& side : sides) {
    for (double& value : side) value = std::ldexp(value, -exponent);
  }
  return sides;
}

}  // namespace

bool is_finite(const Triangle& triangle) {
  for (const Point& corner : triangle) {
    for (const double value : corner) {
      if (!std::isfinite(value)) return false;
    }
  }
  return true;
}

std::optional<Box> finite_box(std::span<const Triangle> triangles) {
  std::optional<Box> box;
  for (const Triangle& triangle : triangles) {
    if (!is_finite(triangle)) continue;
    if (!box.has_value()) box = Box{triangle[0], triangle[0]};
    for (const Point& corner : triangle) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        box->lowest[axis] = std::min(box->lowest[axis], corner[axis]);
        box->highest[axis] = std::max(box->highest[axis], corner[axis]);
      }
    }
  }
  return box;
}

double merge_tolerance(const Box& box) {
  // Half extents cannot overflow; the factor 2e-9 brings the diagonal back.
  Point half{};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    half[axis] = box.highest[axis] / 2 - box.lowest[axis] / 2;
  }
  const double of_size = 2e-9 * length(half);
  double largest = 0.0;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    largest = std::max({largest, std::fabs(box.lowest[axis]), std::fabs(box.highest[axis])});
  }
  if (!(largest >= std::numeric_limits<double>::min())) return of_size;
  // The unit in the last place of `largest` (a normal double): 2^(e - 52).
  const double ulp =
      std::ldexp(1.0, std::ilogb(largest) - (std::numeric_limits<double>::digits - 1));
  return std::max(of_size, ROUNDING_ULPS * ulp);
}

namespace {

// Whether the facet with sides u = b - a, v = c - a, w = c - b is a sliver
// (twice the area at most 1e-12 of the longest side squared) or has an
// angle whose squared sine lies below `sine_squared`. The squares of
// squares must not overflow: the caller scales the sides first when they
// might.
bool thin_sides(const Point& u, const Point& v, const Point& w, double sine_squared) {
  std::array<double, 3> squares = {dot(u, u), dot(v, v), dot(w, w)};
  std::sort(squares.begin(), squares.end());
  const double longest_squared = squares[2];
  if (longest_squared == 0.0) return true;
  const Point normal = cross(u, v);
  const double twice_area_squared = dot(normal, normal);
  // twice area <= 1e-12 L^2, squared on both sides.
  if (twice_area_squared <= 1e-24 * longest_squared * longest_squared) return true;
  return twice_area_squared < sine_squared * longest_squared * squares[1];
}

double sine_squared_of(double min_angle_degrees) {
  if (!(min_angle_degrees > 0.0)) return 0.0;
  const double sine = std::sin(min_angle_degrees * (std::numbers::pi / 180.0));
  return sine * sine;
}

bool thin(const Triangle& triangle, double sine_squared) {
  // Most facets are neither huge nor tiny: their sides need no scaling,
  // for the squares of squares below stay within the range of doubles.
  constexpr double SAFE_LOWEST = 0x1p-400;
  constexpr double SAFE_HIGHEST = 0x1p400;
  {
    const auto& [a, b, c] = triangle;
    const Point u = difference(b, a);
    const Point v = difference(c, a);
    const Point w = difference(c, b);
    const double longest_squared = std::max({dot(u, u), dot(v, v), dot(w, w)});
    if (longest_squared >= SAFE_LOWEST && longest_squared <= SAFE_HIGHEST) {
      return thin_sides(u, v, w, sine_squared);
    }
  }
  const std::array<Point, 3> sides = scaled_sides(triangle);
  return thin_sides(sides[0], sides[1], sides[2], sine_squared);
}

}  // namespace

bool is_sliver(const Triangle& triangle) { return thin(triangle, 0.0); }

bool is_degenerate_shape(const Triangle& triangle, double min_angle_degrees) {
  return thin(triangle, sine_squared_of(min_angle_degrees));
}

ShapeLimit::ShapeLimit(double min_angle_degrees)
    : sine_squared_(sine_squared_of(min_angle_degrees)) {}

bool ShapeLimit::degenerate(const Triangle& triangle) const {
  return thin(triangle, sine_squared_);
}

std::vector<FacetRole> classify_facets(std::span<const Triangle> triangles,
                                       std::span<const VertexIds> vertex_ids,
                                       double min_angle_degrees) {
  const ShapeLimit limit(min_angle_degrees);
  std::vector<FacetRole> roles(triangles.size(), FacetRole::member);
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const VertexIds& ids = vertex_ids[f];
    if (ids[0] == NO_VERTEX) {
      roles[f] = FacetRole::nonfinite;
    } else if (ids[0] == ids[1] || ids[1] == ids[2] || ids[0] == ids[2] ||
               limit.degenerate(triangles[f])) {
      roles[f] = FacetRole::degenerate;
    }
  }
  return roles;
}

double longest_side(std::span<const Triangle> triangles) {
  // Squares first, which is fast; the few out of their safe range are
  // measured again by scaling.
  double longest_squared = 0.0;
  bool out_of_range = false;
  for (const Triangle& t : triangles) {
    if (!is_finite(t)) continue;
    for (std::size_t side = 0; side < 3; ++side) {
      const Point u = difference(t[(side + 1) % 3], t[side]);
      const double squared = dot(u, u);
      longest_squared = std::max(longest_squared, squared);
      if (!(squared <= SAFE_SQUARE_HIGHEST) || (squared < SAFE_SQUARE_LOWEST && squared != 0.0) ||
          (squared == 0.0 && largest_magnitude(u) != 0.0)) {
        out_of_range = true;
      }
    }
  }
  if (!out_of_range) return std::sqrt(longest_squared);
  double longest = 0.0;
  for (const Triangle& t : triangles) {
    if (!is_finite(t)) continue;
    for (std::size_t side = 0; side < 3; ++side) {
      longest = std::max(longest, length(difference(t[(side + 1) % 3], t[side])));
    }
  }
  return longest;
}

void flip_facet(Triangle& triangle, VertexIds& ids) {
  std::swap(triangle[1], triangle[2]);
  std::swap(ids[1], ids[2]);
}

}  // namespace geometry
