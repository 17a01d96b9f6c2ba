// Closed, outward models whose true surface is known, made of facets as a
// CAD exporter would write them: for the remesher's tests and benchmark.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "box_facets.h"
#include "geometry/facet_soup.h"

namespace testing_support {

using geometry::Point;
using geometry::Triangle;

// `facets` as an ASCII STL file in the converter's own style: two blanks
// before "facet", six-blank vertex lines, each coordinate the shortest
// text that reads back as its double; facet f's facet line is line 2 + 7 f.
inline std::string converter_style(const std::vector<Triangle>& facets) {
  const auto shortest = [](double value) {
    std::array<char, 32> text{};
    return std::string(text.data(),
                       std::to_chars(text.data(), text.data() + text.size(), value).ptr);
  };
  std::string text = "solid model\n";
  for (const Triangle& facet : facets) {
    text += "  facet normal 0 0 0\n    outer loop\n";
    for (const Point& c : facet) {
      text += "      vertex " + shortest(c[0]) + " " + shortest(c[1]) + " " + shortest(c[2]) + "\n";
    }
    text += "    endloop\n  endfacet\n";
  }
  return text + "endsolid model\n";
}

// A box from `lowest` to `highest` as twelve facets: long thin ones when
// the sides differ much (a 10:1 bar's facets have 5.7-degree corners).
inline std::vector<Triangle> box_model(const Point& lowest, const Point& highest) {
  std::vector<Triangle> facets;
  for (const auto& ids : BOX_FACETS) {
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) {
      const auto id = static_cast<unsigned>(ids[k]);
      for (std::size_t axis = 0; axis < 3; ++axis) {
        t[k][axis] = ((id >> axis) & 1U) != 0 ? highest[axis] : lowest[axis];
      }
    }
    facets.push_back(t);
  }
  return facets;
}

// The unit cube with each side cut into n x n squares of two facets: a
// model finer than needed, to be coarsened.
inline std::vector<Triangle> fine_cube_model(int n) {
  std::vector<Triangle> facets;
  const double step = 1.0 / n;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const std::size_t u = (axis + 1) % 3;
    const std::size_t v = (axis + 2) % 3;
    for (int side = 0; side < 2; ++side) {
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          std::array<Point, 4> q{};
          const int di[4] = {0, 1, 1, 0};
          const int dj[4] = {0, 0, 1, 1};
          for (std::size_t k = 0; k < 4; ++k) {
            q[k][axis] = side;
            q[k][u] = (i + di[k]) * step;
            q[k][v] = (j + dj[k]) * step;
          }
          // u x v = axis: counter-clockwise seen from the far side.
          if (side == 1) {
            facets.push_back({q[0], q[1], q[2]});
            facets.push_back({q[0], q[2], q[3]});
          } else {
            facets.push_back({q[0], q[2], q[1]});
            facets.push_back({q[0], q[3], q[2]});
          }
        }
      }
    }
  }
  return facets;
}

// A sphere of `radius` about `centre`: an icosahedron whose facets are cut
// in four `levels` times, every corner on the sphere. `inward` turns every
// facet, as for a cavity.
inline std::vector<Triangle> sphere_model(double radius, int levels, const Point& centre = {},
                                          bool inward = false) {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  std::vector<Point> points = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0},
                               {0, -1, t}, {0, 1, t}, {0, -1, -t}, {0, 1, -t},
                               {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  std::vector<std::array<std::size_t, 3>> faces = {
      {0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
      {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
      {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
  const auto on_sphere = [](Point p) {
    const double length = std::hypot(p[0], p[1], p[2]);
    return Point{p[0] / length, p[1] / length, p[2] / length};
  };
  for (Point& p : points) p = on_sphere(p);
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<std::size_t, std::size_t>, std::size_t> middle;
    const auto middle_of = [&](std::size_t a, std::size_t b) {
      const auto key = std::minmax(a, b);
      const auto found = middle.find(key);
      if (found != middle.end()) return found->second;
      const Point& p = points[a];
      const Point& q = points[b];
      points.push_back(on_sphere({p[0] + q[0], p[1] + q[1], p[2] + q[2]}));
      middle.emplace(key, points.size() - 1);
      return points.size() - 1;
    };
    std::vector<std::array<std::size_t, 3>> finer;
    for (const auto& f : faces) {
      const std::size_t ab = middle_of(f[0], f[1]);
      const std::size_t bc = middle_of(f[1], f[2]);
      const std::size_t ca = middle_of(f[2], f[0]);
      finer.push_back({f[0], ab, ca});
      finer.push_back({f[1], bc, ab});
      finer.push_back({f[2], ca, bc});
      finer.push_back({ab, bc, ca});
    }
    faces = finer;
  }
  std::vector<Triangle> facets;
  for (const auto& f : faces) {
    Triangle facet{};
    for (std::size_t k = 0; k < 3; ++k) {
      const Point& p = points[f[inward ? (3 - k) % 3 : k]];
      for (std::size_t axis = 0; axis < 3; ++axis) facet[k][axis] = centre[axis] + radius * p[axis];
    }
    facets.push_back(facet);
  }
  return facets;
}

// A torus about the z axis: `around` segments along the ring of radius
// `ring`, `across` along the tube of radius `tube`.
inline std::vector<Triangle> torus_model(double ring, double tube, int around, int across) {
  const auto at = [&](int i, int j) {
    const double u = 2.0 * std::numbers::pi * (i % around) / around;
    const double v = 2.0 * std::numbers::pi * (j % across) / across;
    const double r = ring + tube * std::cos(v);
    return Point{r * std::cos(u), r * std::sin(u), tube * std::sin(v)};
  };
  std::vector<Triangle> facets;
  for (int i = 0; i < around; ++i) {
    for (int j = 0; j < across; ++j) {
      facets.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      facets.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
  return facets;
}

// A flange: a ring plate (radii `inner` to `outer`, `thickness` thick)
// with `segments` segments on each circle, as a CAD program exports it at
// a fine setting: fans of long thin facets across the flat sides, sharp
// circular rims.
inline std::vector<Triangle> flange_model(double inner, double outer, double thickness,
                                          int segments) {
  const auto at = [&](double radius, int i, double z) {
    const double u = 2.0 * std::numbers::pi * (i % segments) / segments;
    return Point{radius * std::cos(u), radius * std::sin(u), z};
  };
  std::vector<Triangle> facets;
  for (int i = 0; i < segments; ++i) {
    const Point a0 = at(outer, i, 0), a1 = at(outer, i + 1, 0);
    const Point b0 = at(inner, i, 0), b1 = at(inner, i + 1, 0);
    const Point c0 = at(outer, i, thickness), c1 = at(outer, i + 1, thickness);
    const Point d0 = at(inner, i, thickness), d1 = at(inner, i + 1, thickness);
    facets.push_back({c0, c1, d1});  // top, facing +z
    facets.push_back({c0, d1, d0});
    facets.push_back({a0, b1, a1});  // bottom, facing -z
    facets.push_back({a0, b0, b1});
    facets.push_back({a0, a1, c1});  // outer rim, facing out
    facets.push_back({a0, c1, c0});
    facets.push_back({b0, d1, b1});  // inner rim, facing the axis
    facets.push_back({b0, d0, d1});
  }
  return facets;
}

}  // namespace testing_support
