#include "geometry/triangle.h"

namespace geometry {
namespace {

// u divided by 2^exponent: exact, short of subnormal results.
Point scaled(const Point& u, int exponent) {
  return {std::ldexp(u[0], -exponent), std::ldexp(u[1], -exponent), std::ldexp(u[2], -exponent)};
}

// The two sides from corner 0, and the power of two they were divided by
// (halved first where a difference of finite coordinates overflows) so
// that their largest component lies in [1, 2).
struct ScaledSides {
  Point u;
  Point v;
  int exponent = 0;
};

ScaledSides scaled_sides(const Triangle& t) {
  ScaledSides sides{difference(t[1], t[0]), difference(t[2], t[0]), 0};
  double largest = std::max(largest_magnitude(sides.u), largest_magnitude(sides.v));
  if (!std::isfinite(largest)) {
    for (std::size_t k = 0; k < 3; ++k) {
      sides.u[k] = t[1][k] / 2 - t[0][k] / 2;
      sides.v[k] = t[2][k] / 2 - t[0][k] / 2;
    }
    sides.exponent = 1;
    largest = std::max(largest_magnitude(sides.u), largest_magnitude(sides.v));
  }
  if (largest == 0.0) return sides;
  const int exponent = std::ilogb(largest);
  sides.u = scaled(sides.u, exponent);
  sides.v = scaled(sides.v, exponent);
  sides.exponent += exponent;
  return sides;
}

}  // namespace

double length(const Point& u) {
  const double largest = largest_magnitude(u);
  if (largest == 0.0 || !std::isfinite(largest)) return largest;
  const int exponent = std::ilogb(largest);
  const Point s = scaled(u, exponent);
  return std::ldexp(std::sqrt(dot(s, s)), exponent);
}

double twice_area(const Triangle& t) {
  const Point normal = cross(difference(t[1], t[0]), difference(t[2], t[0]));
  const double square = dot(normal, normal);
  if (is_safe_square(square)) return std::sqrt(square);
  const ScaledSides sides = scaled_sides(t);
  return std::ldexp(length(cross(sides.u, sides.v)), 2 * sides.exponent);
}

Point unit_normal(const Triangle& t) {
  Point u = difference(t[1], t[0]);
  Point v = difference(t[2], t[0]);
  double scale = std::max(largest_magnitude(u), largest_magnitude(v));
  if (!std::isfinite(scale)) {
    // A difference overflows: the halves do not, and give the same normal.
    for (std::size_t k = 0; k < 3; ++k) {
      u[k] = t[1][k] / 2 - t[0][k] / 2;
      v[k] = t[2][k] / 2 - t[0][k] / 2;
    }
    scale = std::max(largest_magnitude(u), largest_magnitude(v));
  }
  if (!(scale > 0.0) || !std::isfinite(scale)) return {0.0, 0.0, 0.0};
  // Divided by the largest component, the cross product neither overflows
  // nor underflows for any facet that is not a sliver.
  for (std::size_t k = 0; k < 3; ++k) {
    u[k] /= scale;
    v[k] /= scale;
  }
  const Point n = cross(u, v);
  const double n_length = std::sqrt(dot(n, n));
  if (!(n_length > 0.0)) return {0.0, 0.0, 0.0};
  return {n[0] / n_length, n[1] / n_length, n[2] / n_length};
}

}  // namespace geometry
