// The arithmetic on points and triangles every step shares: lengths, the
// longest side, twice the area, midpoints and unit normals, at the edges of
// the range it promises (subnormal, huge, overflowing differences, corners
// in a line or at one point), and against a reference in wider precision.
#include "geometry/triangle.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using geometry::Point;
using geometry::Triangle;

constexpr double MAX = DBL_MAX;
constexpr double INF = std::numeric_limits<double>::infinity();

// A triangle with every coordinate multiplied by 2^exponent (exact).
Triangle scaled(Triangle t, int exponent) {
  for (Point& corner : t) {
    for (double& value : corner) value = std::ldexp(value, exponent);
  }
  return t;
}

Triangle shifted(Triangle t, double offset) {
  for (Point& corner : t) {
    for (double& value : corner) value += offset;
  }
  return t;
}

constexpr Triangle RIGHT_345 = {{{0, 0, 0}, {3, 0, 0}, {3, 4, 0}}};
// Sides 2, sqrt(26), sqrt(26): the longest twice.
constexpr Triangle TWO_LONGEST = {{{0, 0, 0}, {2, 0, 0}, {1, 5, 0}}};
constexpr Triangle ONE_POINT = {{{5, 5, 5}, {5, 5, 5}, {5, 5, 5}}};
constexpr Triangle IN_A_LINE = {{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}};
// Its differences overflow although every coordinate is finite.
constexpr Triangle OVERFLOWING = {{{-MAX, -MAX, 0}, {MAX, -MAX, 0}, {-MAX, MAX, 0}}};

TEST(Triangle, LongestSideIsTheFirstLongestAtAnyScale) {
  struct Case {
    const char* name;
    Triangle t;
    std::size_t side;
    double length;
  };
  const Triangle far = shifted(RIGHT_345, 0x1p40);
  const Triangle tiny = scaled(RIGHT_345, -1060);  // squares underflow to zero
  const Triangle huge = scaled(RIGHT_345, 1000);   // squares overflow
  const Triangle tiny_two = scaled(TWO_LONGEST, -1065);
  const double root_26 = std::sqrt(26.0);
  const double tiny_root_26 = std::ldexp(root_26, -1065);
  const Case cases[] = {
      {"3-4-5", RIGHT_345, 2, 5.0},
      {"3-4-5 far from the origin, exact", far, 2, 5.0},
      {"squares underflow to zero", tiny, 2, 0x1.4p-1058},
      {"squares overflow", huge, 2, 0x1.4p1002},
      {"two longest: the first", TWO_LONGEST, 1, root_26},
      {"two longest, tiny: the first", tiny_two, 1, tiny_root_26},
      {"a difference overflows", OVERFLOWING, 0, INF},
      {"one point", ONE_POINT, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const geometry::LongestSide found = geometry::longest_side_of(c.t);
    EXPECT_EQ(found.side, c.side);
    EXPECT_EQ(found.length, c.length);
  }
}

TEST(Triangle, TwiceTheAreaAtAnyScaleAndNeverNaN) {
  // Twice the area of the right triangle with legs 3 and 4 is 12.
  constexpr Triangle LEGS_34 = {{{0, 0, 0}, {3, 0, 0}, {0, 4, 0}}};
  // Base 2^1024 and height 2^1023 * 2: beyond the largest double.
  constexpr Triangle BASE_OVERFLOWS = {{{-0x1p1023, 0, 0}, {0x1p1023, 0, 0}, {0, 0x1p1023, 0}}};
  struct Case {
    const char* name;
    Triangle t;
    double expected;
  };
  const Triangle tiny = scaled(LEGS_34, -530);
  const Triangle huge = scaled(LEGS_34, 510);
  const Triangle too_large = scaled(LEGS_34, 520);
  const Case cases[] = {
      {"legs 3 and 4", LEGS_34, 12.0},
      {"square of the cross product underflows", tiny, 0x1.8p-1057},
      {"square of the cross product overflows", huge, 0x1.8p1023},
      {"beyond the largest", too_large, INF},
      {"a difference overflows", BASE_OVERFLOWS, INF},
      {"in a line", IN_A_LINE, 0.0},
      {"one point", ONE_POINT, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(geometry::twice_area(c.t), c.expected);
  }
}

TEST(Triangle, MidpointIsSymmetricAndNeverOverflows) {
  constexpr double TINY = 0x1p-1074;
  struct Case {
    const char* name;
    Point a;
    Point b;
    Point expected;
  };
  // The smallest subnormals: halving each first would round TINY / 2 to zero.
  const Case cases[] = {
      {"plain", {1, 2, 3}, {3, 4, 5}, {2, 3, 4}},
      {"sum overflows", {MAX, 0x1.8p1023, 1}, {MAX, 0x1p1023, 1}, {MAX, 0x1.4p1023, 1}},
      {"opposite ends", {-MAX, MAX, 0}, {MAX, -MAX, 0}, {0, 0, 0}},
      {"smallest subnormals", {TINY, TINY, 0}, {TINY, 3 * TINY, 0}, {TINY, 2 * TINY, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Point ab = geometry::midpoint(c.a, c.b);
    const Point ba = geometry::midpoint(c.b, c.a);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(ab[k], c.expected[k]) << k;
      EXPECT_EQ(std::bit_cast<std::uint64_t>(ab[k]), std::bit_cast<std::uint64_t>(ba[k])) << k;
    }
  }
}

TEST(Triangle, UnitNormalAtAnyScaleAndZeroForNoPlane) {
  constexpr Triangle XY = {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}};
  constexpr Triangle YX = {{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}};
  constexpr Triangle AXES = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  const double third = 1 / std::sqrt(3.0);
  struct Case {
    const char* name;
    Triangle t;
    Point expected;
  };
  const Triangle far = shifted(XY, 0x1p40);
  const Triangle tiny = scaled(XY, -1070);
  const Triangle huge = scaled(XY, 1020);
  const Point up = {0, 0, 1};
  const Point down = {0, 0, -1};
  const Point none = {0, 0, 0};
  const Point thirds = {third, third, third};
  const Case cases[] = {
      {"counterclockwise in xy", XY, up},
      {"clockwise in xy", YX, down},
      {"through three axes", AXES, thirds},
      {"far from the origin, exact", far, up},
      {"subnormal", tiny, up},
      {"huge", huge, up},
      {"differences overflow", OVERFLOWING, up},
      {"in a line", IN_A_LINE, none},
      {"one point", ONE_POINT, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Point n = geometry::unit_normal(c.t);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(n[k], c.expected[k], 4e-16) << k;
  }
}

// Random well-shaped triangles from the smallest to the largest scale the
// results can be represented at, against the same quantities in long
// double (at least 64 bits of significand, a far wider exponent range),
// computed from the same rounded differences.
TEST(Triangle, WithinTheStatedBoundsAgainstAWiderReference) {
  static_assert(std::numeric_limits<long double>::digits >= 64);
  using Wide = long double;
  constexpr Wide U = 0x1p-53L;
  std::mt19937_64 random(26);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const int exponents[] = {-1060, -1000, -600, -520, -500, -480, -1, 0, 480, 500, 520, 600, 1000};
  for (const int exponent : exponents) {
    SCOPED_TRACE(exponent);
    for (int trial = 0; trial < 300; ++trial) {
      Triangle t{};
      for (Point& corner : t) {
        for (double& value : corner) value = std::ldexp(unit(random), exponent);
      }
      Wide side_length[3];
      for (std::size_t k = 0; k < 3; ++k) {
        const Point d = geometry::difference(t[(k + 1) % 3], t[k]);
        const Wide x = d[0], y = d[1], z = d[2];
        side_length[k] = std::sqrt(x * x + y * y + z * z);
        const double measured = geometry::length(d);
        ASSERT_LE(std::fabs(measured - side_length[k]), 2.5L * U * side_length[k] + Wide{0x1p-1074})
            << k;
      }
      const Wide longest = std::max({side_length[0], side_length[1], side_length[2]});
      const double found = geometry::longest_side_of(t).length;
      ASSERT_LE(std::fabs(found - longest), 2.5L * U * longest + Wide{0x1p-1074});

      const Point u = geometry::difference(t[1], t[0]);
      const Point v = geometry::difference(t[2], t[0]);
      const Wide n[3] = {Wide{u[1]} * v[2] - Wide{u[2]} * v[1],
                         Wide{u[2]} * v[0] - Wide{u[0]} * v[2],
                         Wide{u[0]} * v[1] - Wide{u[1]} * v[0]};
      const Wide area = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      // Well shaped only: a sliver's normal is as uncertain as its area.
      if (!(area > 0.05L * longest * longest)) continue;
      if (exponent >= -500 && exponent <= 500) {
        ASSERT_LE(std::fabs(geometry::twice_area(t) - area),
                  4 * U * side_length[0] * side_length[2]);
      }
      const Point normal = geometry::unit_normal(t);
      for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_NEAR(normal[k], static_cast<double>(n[k] / area), 1e-14) << k;
      }
    }
  }
}

}  // namespace
