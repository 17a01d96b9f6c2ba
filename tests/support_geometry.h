// A plain reference for the mesh geometry of the companions, slow and
// simple: every pair of corners compared, edges in a map, shells by a walk,
// sums in long double. The tests and the geometry's fuzz target compare the
// production analysis with it on small facet soups.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

#include "geometry/facet_soup.h"

namespace testing_support {

using geometry::Point;
using geometry::Triangle;

inline long double distance(const Point& a, const Point& b) {
  long double sum = 0;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const long double d = static_cast<long double>(a[axis]) - b[axis];
    sum += d * d;
  }
  return std::sqrt(sum);
}

struct ReferenceShell {
  std::size_t first_facet;
  std::size_t facets;
  bool closed;
  long double volume;
};

struct Reference {
  std::int64_t vertices = 0;
  std::int64_t near = 0;
  std::int64_t nonfinite = 0;
  std::int64_t degenerate = 0;
  std::int64_t repeated = 0;
  std::int64_t open = 0;
  std::int64_t nonmanifold = 0;
  std::int64_t misoriented = 0;
  std::vector<ReferenceShell> shells;
};

// Facets are judged by their shape where their corners merge, with
// `min_angle_degrees` the smallest angle allowed (0 for the area test only).
inline Reference reference(const std::vector<Triangle>& facets,
                           long double min_angle_degrees = geometry::DEFAULT_MIN_ANGLE_DEGREES) {
  Reference truth;
  const std::size_t n = facets.size();
  std::vector<bool> finite(n);
  long double lowest[3] = {INFINITY, INFINITY, INFINITY};
  long double highest[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (std::size_t f = 0; f < n; ++f) {
    finite[f] = std::all_of(facets[f].begin(), facets[f].end(), [](const Point& p) {
      return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
    });
    if (!finite[f]) {
      ++truth.nonfinite;
      continue;
    }
    for (const Point& p : facets[f]) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        lowest[axis] = std::min<long double>(lowest[axis], p[axis]);
        highest[axis] = std::max<long double>(highest[axis], p[axis]);
      }
    }
  }
  long double diagonal = 0;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    if (highest[axis] >= lowest[axis]) {
      diagonal += (highest[axis] - lowest[axis]) * (highest[axis] - lowest[axis]);
    }
  }
  // Or, far from the origin, 16 units in the last place of the largest
  // coordinate magnitude: the step to the next double above it.
  double largest = 0;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    if (highest[axis] >= lowest[axis]) {
      largest = std::max({largest, std::fabs(static_cast<double>(lowest[axis])),
                          std::fabs(static_cast<double>(highest[axis]))});
    }
  }
  const long double rounding = 16.0L * (std::nextafter(largest, INFINITY) - largest);
  const long double tolerance = std::max(1e-9L * std::sqrt(diagonal), rounding);

  // Corners 3f + k joined pairwise.
  std::vector<std::size_t> group(3 * n);
  std::iota(group.begin(), group.end(), 0);
  const auto root = [&](std::size_t c) {
    while (group[c] != c) c = group[c];
    return c;
  };
  const auto corner = [&](std::size_t c) -> const Point& { return facets[c / 3][c % 3]; };
  for (std::size_t a = 0; a < 3 * n; ++a) {
    if (!finite[a / 3]) continue;
    for (std::size_t b = a + 1; b < 3 * n; ++b) {
      if (!finite[b / 3]) continue;
      if (corner(a) == corner(b) || distance(corner(a), corner(b)) <= tolerance) {
        group[root(b)] = root(a);
      }
    }
  }
  std::map<std::size_t, std::map<Point, std::int64_t>> positions;  // root -> position -> uses
  for (std::size_t c = 0; c < 3 * n; ++c) {
    if (!finite[c / 3]) continue;
    Point p = corner(c);
    for (double& value : p) value += 0.0;  // -0.0 is 0.0
    ++positions[root(c)][p];
  }
  truth.vertices = std::ssize(positions);
  // Each vertex's position: the most common of its corners', the lowest of
  // equally common ones.
  std::map<std::size_t, Point> merged;
  for (const auto& [r, uses] : positions) {
    std::int64_t most = 0;
    for (const auto& [p, count] : uses) {
      if (count > most) {
        most = count;
        merged[r] = p;
      }
    }
  }
  for (const auto& [r, uses] : positions) {
    std::int64_t most = 0;
    std::int64_t all = 0;
    for (const auto& [p, count] : uses) {
      most = std::max(most, count);
      all += count;
    }
    truth.near += all - most;
  }

  std::set<std::array<std::size_t, 3>> seen;
  std::map<std::pair<std::size_t, std::size_t>, std::vector<std::pair<std::size_t, bool>>> edges;
  std::vector<std::size_t> members;
  for (std::size_t f = 0; f < n; ++f) {
    if (!finite[f]) continue;
    std::array<std::size_t, 3> ids = {root(3 * f), root(3 * f + 1), root(3 * f + 2)};
    const Point a = merged[ids[0]];
    const Point b = merged[ids[1]];
    const Point c = merged[ids[2]];
    long double u[3];
    long double v[3];
    long double w[3];
    for (std::size_t axis = 0; axis < 3; ++axis) {
      u[axis] = static_cast<long double>(b[axis]) - a[axis];
      v[axis] = static_cast<long double>(c[axis]) - a[axis];
      w[axis] = static_cast<long double>(c[axis]) - b[axis];
    }
    const long double normal[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                                   u[0] * v[1] - u[1] * v[0]};
    const long double twice_area =
        std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    const auto square = [](const long double* s) {
      return s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
    };
    std::array<long double, 3> squares = {square(u), square(v), square(w)};
    std::sort(squares.begin(), squares.end());
    const long double longest = squares[2];
    // The smallest angle's sine is twice the area over the two longer sides.
    const long double sine =
        std::sin(min_angle_degrees * 3.14159265358979323846264338327950288L / 180);
    if (ids[0] == ids[1] || ids[1] == ids[2] || ids[0] == ids[2] ||
        twice_area <= 1e-12L * longest ||
        twice_area < sine * std::sqrt(squares[2]) * std::sqrt(squares[1])) {
      ++truth.degenerate;
      continue;
    }
    std::array<std::size_t, 3> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    if (!seen.insert(sorted).second) {
      ++truth.repeated;
      continue;
    }
    members.push_back(f);
    for (std::size_t side = 0; side < 3; ++side) {
      const std::size_t from = ids[side];
      const std::size_t to = ids[(side + 1) % 3];
      edges[{std::min(from, to), std::max(from, to)}].emplace_back(f, from > to);
    }
  }
  std::map<std::size_t, std::set<std::size_t>> neighbours;
  std::set<std::size_t> not_closed;
  for (const auto& [edge, uses] : edges) {
    const bool shared = uses.size() == 2 && uses[0].second != uses[1].second;
    if (uses.size() == 1) ++truth.open;
    if (uses.size() > 2) ++truth.nonmanifold;
    if (uses.size() == 2 && !shared) ++truth.misoriented;
    for (const auto& [f, reversed] : uses) {
      if (!shared) not_closed.insert(f);
      for (const auto& [g, other] : uses) neighbours[f].insert(g);
    }
  }
  std::set<std::size_t> reached;
  for (const std::size_t start : members) {
    if (!reached.insert(start).second) continue;
    ReferenceShell shell{start, 0, true, 0};
    const Point& o = facets[start][0];
    std::vector<std::size_t> stack = {start};
    while (!stack.empty()) {
      const std::size_t f = stack.back();
      stack.pop_back();
      ++shell.facets;
      if (not_closed.count(f) > 0) shell.closed = false;
      long double p[3][3];
      for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t axis = 0; axis < 3; ++axis) {
          p[k][axis] = static_cast<long double>(facets[f][k][axis]) - o[axis];
        }
      }
      shell.volume += (p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) +
                       p[0][1] * (p[1][2] * p[2][0] - p[1][0] * p[2][2]) +
                       p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0])) /
                      6;
      for (const std::size_t g : neighbours[f]) {
        if (reached.insert(g).second) stack.push_back(g);
      }
    }
    truth.shells.push_back(shell);
  }
  return truth;
}

// The points of the palette: nine corners of a 2 x 2 x 2 box and its
// inside, then for each a copy moved by 0.3 or 0.45 of the box's weld
// tolerance (about 3.46e-9) and one moved by 5e-9, beyond it.
inline std::vector<Point> weld_palette(const Point& offset) {
  std::vector<Point> points = {
      {0, 0, 0}, {-0.0, 1, 0},    {1, 0, -0.0}, {1, 1, 0}, {0, 0, 1},
      {2, 0, 0}, {0.5, 0.5, 0.5}, {0, -0.0, 2}, {2, 2, 2},
  };
  const std::size_t base = points.size();
  for (std::size_t i = 0; i < base; ++i) {
    Point near = points[i];
    near[i % 3] += (i % 2 == 0 ? 0.3 : -0.45) * 3.4641016e-9;
    points.push_back(near);
    Point apart = points[i];
    apart[(i + 1) % 3] += 5e-9;
    points.push_back(apart);
  }
  for (Point& p : points) {
    for (std::size_t axis = 0; axis < 3; ++axis) p[axis] += offset[axis];
  }
  return points;
}

}  // namespace testing_support
