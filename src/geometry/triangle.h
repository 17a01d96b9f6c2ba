// Points, vectors and triangles, and the arithmetic on them that every step
// shares: the reader hands its facets over in these types, the check and the
// preparation measure and cut them with these functions.
//
// Corner k of a triangle is t[k]; side k runs from corner k to corner
// (k + 1) mod 3. The corner order gives the orientation: the normal
// (b - a) x (c - a) points out of a body whose facets are all ordered so.
//
// The safe range: every coordinate finite, of any magnitude, subnormals
// included. Within it
// - a difference is rounded once; where it overflows (coordinates of
//   opposite sign near the largest double) it is infinite, and a length
//   measured along it is infinite too, which is right: the true length
//   exceeds the largest double;
// - a length and the longest side are within a relative 2.5 * 2^-53 of the
//   true length of the rounded differences (a unit or two in the last
//   place), and twice the area within 4 * 2^-53 times the product of the
//   two sides from corner 0. Squares are summed directly while the largest
//   square lies in [SAFE_SQUARE_LOWEST, SAFE_SQUARE_HIGHEST] (a length of
//   about 1e-150 to 1e150): there a sum of three cannot overflow, and a
//   square that underflows is below 2^-22 units in the last place of the
//   sum. Outside, the vector is first scaled by a power of two, which is
//   exact, so the result is as good at any magnitude, until the result
//   itself is subnormal or beyond the largest double (then infinite);
// - a midpoint is the rounded true midpoint and never overflows;
// - the unit normal has components within a few units in the last place,
//   also where the sides' differences overflow; it is zero only for corners
//   on a line or a facet whose twice area is below about 1e-154 times the
//   square of its longest side, far thinner than any facet the sliver test
//   keeps (facet_soup.h).
// A non-finite coordinate gives no meaningful result; callers leave such
// facets out first (geometry::is_finite).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace geometry {

using Point = std::array<double, 3>;    // x, y, z; also a vector between two points
using Triangle = std::array<Point, 3>;  // corners in file order

inline constexpr double SAFE_SQUARE_LOWEST = 0x1p-1000;
inline constexpr double SAFE_SQUARE_HIGHEST = 0x1p1000;

// to - from, each component rounded once.
inline Point difference(const Point& to, const Point& from) {
  return {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
}

inline Point cross(const Point& u, const Point& v) {
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

inline double dot(const Point& u, const Point& v) {
  return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

inline double largest_magnitude(const Point& u) {
  return std::max({std::fabs(u[0]), std::fabs(u[1]), std::fabs(u[2])});
}

inline bool is_safe_square(double square) {
  return square >= SAFE_SQUARE_LOWEST && square <= SAFE_SQUARE_HIGHEST;
}

// |u|, scaled by a power of two first, so exact to rounding for any finite
// u; infinite when a component is.
double length(const Point& u);

// The midpoint of a and b, the same for b and a.
inline Point midpoint(const Point& a, const Point& b) {
  Point m{};
  for (std::size_t k = 0; k < 3; ++k) {
    const double sum = a[k] + b[k];
    // Halving each first would lose the last bit of subnormals; it is
    // needed only where the sum overflows.
    m[k] = std::isfinite(sum) ? sum * 0.5 : a[k] * 0.5 + b[k] * 0.5;
  }
  return m;
}

struct LongestSide {
  std::size_t side = 0;  // 0, 1 or 2: from corner side to corner side + 1
  double length = 0.0;
};

// The longest side of a triangle, the first of equal ones, so that the same
// triangle is always measured the same way. A triangle whose corners are
// all one point has side 0 of length 0.
inline LongestSide longest_side_of(const Triangle& t) {
  // Squares first, which is fast.
  std::array<double, 3> squares{};
  for (std::size_t k = 0; k < 3; ++k) {
    const Point u = difference(t[(k + 1) % 3], t[k]);
    squares[k] = dot(u, u);
  }
  LongestSide longest;
  if (squares[1] > squares[longest.side]) longest.side = 1;
  if (squares[2] > squares[longest.side]) longest.side = 2;
  if (is_safe_square(squares[longest.side])) {
    longest.length = std::sqrt(squares[longest.side]);
    return longest;
  }
  // Squares out of their safe range compare wrongly: the lengths again.
  longest.side = 0;
  std::array<double, 3> lengths{};
  for (std::size_t k = 0; k < 3; ++k) {
    lengths[k] = length(difference(t[(k + 1) % 3], t[k]));
    if (lengths[k] > lengths[longest.side]) longest.side = k;
  }
  longest.length = lengths[longest.side];
  return longest;
}

// Twice the area of a triangle, |(b - a) x (c - a)|.
double twice_area(const Triangle& t);

// The unit normal by the right-hand rule; zero for corners on a line.
Point unit_normal(const Triangle& t);

}  // namespace geometry
