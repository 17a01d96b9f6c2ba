// The nesting of closed shells and the way each must face for its depth:
// models whose truth is known by construction, and random arrangements of
// convex shells checked against an exact reference that decides "inside"
// with integer plane tests instead of rays.
#include "geometry/nesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "box_facets.h"
#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"
#include "geometry/shells.h"
#include "geometry/vertex_merge.h"

namespace {

using geometry::Point;
using geometry::ShellFacing;
using geometry::Triangle;

using Shape = std::vector<Triangle>;

// A box from its lowest corner and its edge lengths, outward.
Shape box(Point low, Point size) {
  Shape facets;
  for (const auto& numbers : testing_support::BOX_FACETS) {
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        t[k][axis] = low[axis] + (((numbers[k] >> axis) & 1) != 0 ? size[axis] : 0.0);
      }
    }
    facets.push_back(t);
  }
  return facets;
}

Shape cube(Point low, double size) { return box(low, {size, size, size}); }

// The octahedron of corners centre +- radius along each axis, outward.
Shape octahedron(Point centre, double radius) {
  Shape facets;
  for (int signs = 0; signs < 8; ++signs) {
    std::array<double, 3> s{};
    for (std::size_t axis = 0; axis < 3; ++axis) s[axis] = ((signs >> axis) & 1) != 0 ? -1 : 1;
    Triangle t{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      t[axis] = centre;
      t[axis][axis] += s[axis] * radius;
    }
    // (x, y, z) runs counter-clockwise seen from outside in the positive
    // octant; each mirror reverses it.
    if (s[0] * s[1] * s[2] < 0) std::swap(t[1], t[2]);
    facets.push_back(t);
  }
  return facets;
}

// The corner tetrahedron (0, 0, 0), (size, 0, 0), (0, size, 0), (0, 0, size)
// about `low`, outward: its box holds points that lie outside it.
Shape corner_tetrahedron(Point low, double size) {
  const Point o = low;
  const Point x{low[0] + size, low[1], low[2]};
  const Point y{low[0], low[1] + size, low[2]};
  const Point z{low[0], low[1], low[2] + size};
  return {
      {o, y, x},
      {o, x, z},
      {o, z, y},
      {x, y, z},
  };
}

// The shape without its first facet: open.
Shape opened(Shape facets) {
  facets.erase(facets.begin());
  return facets;
}

Shape flipped(Shape facets) {
  for (Triangle& t : facets) std::swap(t[1], t[2]);
  return facets;
}

struct Nesting {
  std::vector<std::uint32_t> shell_of_facet;
  std::vector<geometry::Shell> shells;
  std::vector<std::uint32_t> depths;
};

Nesting nest(const std::vector<Triangle>& soup) {
  const geometry::VertexMerge merge = geometry::merge_vertices(soup, geometry::finite_box(soup));
  std::vector<geometry::FacetRole> roles = geometry::classify_facets(soup, merge.vertex_ids);
  const geometry::EdgeTopology topology = geometry::analyse_edges(
      merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
  Nesting nesting;
  nesting.shells = geometry::measure_shells(soup, topology);
  nesting.depths = geometry::nest_shells(soup, &merge, topology, nesting.shells);
  nesting.shell_of_facet = topology.shell_of_facet;
  return nesting;
}

// ---------------------------------------------------------------------------
// Models built to a known truth: the shapes in order, each one shell; per
// shape its depth and how it faces.

struct Placed {
  Shape shape;
  std::uint32_t depth;
  ShellFacing facing;
};

struct NestingCase {
  const char* name;
  std::vector<Placed> shapes;
};

std::vector<NestingCase> nesting_cases() {
  constexpr auto agrees = ShellFacing::agrees;
  constexpr auto inside_out = ShellFacing::body_inside_out;
  constexpr auto outward_cavity = ShellFacing::cavity_pointing_outward;
  const Point map{6.5e5, 5.3e6, 12.0};  // site coordinates, metres
  const auto at_map = [&](double x, double y, double z) {
    return Point{map[0] + x, map[1] + y, map[2] + z};
  };
  std::vector<NestingCase> cases;
  const auto add = [&cases](const char* name, std::vector<Placed> shapes) {
    cases.push_back({name, std::move(shapes)});
  };
  add("a body", {{cube({0, 0, 0}, 1), 0, agrees}});
  add("a body inside out", {{flipped(cube({0, 0, 0}, 1)), 0, inside_out}});
  add("hollow body, cavity facing its void",
      {{cube({0, 0, 0}, 4), 0, agrees}, {flipped(cube({1, 1, 1}, 2)), 1, agrees}});
  // Also what a body inside a body, both outward, looks like.
  add("hollow body, cavity pointing outward",
      {{cube({0, 0, 0}, 4), 0, agrees}, {cube({1, 1, 1}, 2), 1, outward_cavity}});
  add("hollow body wholly inside out",
      {{flipped(cube({0, 0, 0}, 4)), 0, inside_out}, {cube({1, 1, 1}, 2), 1, outward_cavity}});
  add("body in the cavity of a body", {{cube({0, 0, 0}, 6), 0, agrees},
                                       {flipped(cube({1, 1, 1}, 4)), 1, agrees},
                                       {cube({2, 2, 2}, 2), 2, agrees}});
  add("body in the cavity of a body, inside out", {{cube({0, 0, 0}, 6), 0, agrees},
                                                   {flipped(cube({1, 1, 1}, 4)), 1, agrees},
                                                   {flipped(cube({2, 2, 2}, 2)), 2, inside_out}});
  add("two cavities side by side", {{box({0, 0, 0}, {7, 3, 3}), 0, agrees},
                                    {flipped(cube({1, 1, 1}, 1)), 1, agrees},
                                    {flipped(cube({4, 1, 1}, 2)), 1, agrees}});
  add("bodies side by side",
      {{cube({0, 0, 0}, 1), 0, agrees}, {flipped(cube({2, 0, 0}, 1)), 0, inside_out}});
  // The cavity's lower faces lie in the body's: its corners there are on
  // the outer shell, its far corner inside.
  add("cavity touching the body's walls",
      {{cube({0, 0, 0}, 3), 0, agrees}, {flipped(cube({0, 0, 0}, 1)), 1, agrees}});
  // In the tetrahedron's box, beyond its slanted face: not enclosed.
  add("beside a slanted face, within its box",
      {{corner_tetrahedron({0, 0, 0}, 4), 0, agrees}, {cube({2.5, 2.5, 2.5}, 0.5), 0, agrees}});
  add("within a slanted face", {{corner_tetrahedron({0, 0, 0}, 4), 0, agrees},
                                {flipped(cube({0.5, 0.5, 0.5}, 0.5)), 1, agrees}});
  // Rays from the inner corners run along the grid of the outer
  // octahedron's edges and through its corners' planes.
  add("octahedron in a cube in an octahedron", {{octahedron({0, 0, 0}, 9), 0, agrees},
                                                {flipped(cube({-2, -2, -2}, 4)), 1, agrees},
                                                {octahedron({0, 0, 0}, 2), 2, agrees}});
  add("hollow body at site coordinates", {{cube(at_map(0, 0, 0), 2), 0, agrees},
                                          {flipped(cube(at_map(0.5, 0.5, 0.5), 1)), 1, agrees},
                                          {cube(at_map(5, 0, 0), 1), 0, agrees}});
  add("open shell around a body",
      {{opened(cube({0, 0, 0}, 4)), geometry::NO_DEPTH, ShellFacing::not_closed},
       {cube({1, 1, 1}, 1), 0, agrees}});
  return cases;
}

TEST(Nesting, DepthsAndFacingOfModelsBuiltToAKnownTruth) {
  for (const NestingCase& c : nesting_cases()) {
    SCOPED_TRACE(c.name);
    std::vector<Triangle> soup;
    std::vector<std::size_t> first_facet;
    for (const Placed& placed : c.shapes) {
      first_facet.push_back(soup.size());
      soup.insert(soup.end(), placed.shape.begin(), placed.shape.end());
    }
    const Nesting nesting = nest(soup);
    ASSERT_EQ(nesting.shells.size(), c.shapes.size());
    for (std::size_t i = 0; i < c.shapes.size(); ++i) {
      SCOPED_TRACE(i);
      const std::uint32_t s = nesting.shell_of_facet[first_facet[i]];
      EXPECT_EQ(nesting.depths[s], c.shapes[i].depth);
      EXPECT_EQ(geometry::facing_of(nesting.shells[s], nesting.depths[s]), c.shapes[i].facing);
    }
  }
}

TEST(Nesting, FacingOfAClosedShellWithoutVolume) {
  geometry::Shell flat{.closed = true, .volume = 0.0};
  EXPECT_EQ(geometry::facing_of(flat, 0), ShellFacing::flat);
  EXPECT_EQ(geometry::facing_of(flat, 1), ShellFacing::flat);
  geometry::Shell open{.closed = false, .volume = 1.0};
  EXPECT_EQ(geometry::facing_of(open, geometry::NO_DEPTH), ShellFacing::not_closed);
}

// ---------------------------------------------------------------------------
// Random arrangements against an exact reference

// A convex shape on integer coordinates (offset later), outward: a point is
// strictly inside when it lies strictly behind every facet's plane, which
// 64-bit integers decide exactly.
struct IntegerShape {
  std::vector<std::array<std::array<std::int64_t, 3>, 3>> facets;
  bool flipped = false;
};

IntegerShape integer_shape(const Shape& shape) {
  IntegerShape result;
  for (const Triangle& t : shape) {
    std::array<std::array<std::int64_t, 3>, 3> f{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        f[k][axis] = static_cast<std::int64_t>(t[k][axis]);
      }
    }
    result.facets.push_back(f);
  }
  return result;
}

bool strictly_inside(const IntegerShape& shape, const std::array<std::int64_t, 3>& p) {
  for (const auto& f : shape.facets) {
    std::array<std::int64_t, 3> u{}, v{}, w{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      u[axis] = f[1][axis] - f[0][axis];
      v[axis] = f[2][axis] - f[0][axis];
      w[axis] = p[axis] - f[0][axis];
    }
    const std::int64_t det = u[0] * (v[1] * w[2] - v[2] * w[1]) -
                             u[1] * (v[0] * w[2] - v[2] * w[0]) +
                             u[2] * (v[0] * w[1] - v[1] * w[0]);
    if (det >= 0) return false;
  }
  return true;
}

// A convex shape encloses another when every corner of the other lies
// strictly inside it.
bool encloses(const IntegerShape& outer, const IntegerShape& inner) {
  for (const auto& f : inner.facets) {
    for (const auto& corner : f) {
      if (!strictly_inside(outer, corner)) return false;
    }
  }
  return true;
}

TEST(Nesting, AgreesWithAnExactReferenceOnRandomArrangements) {
  std::mt19937_64 random(27);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    // Cells of 100 units; in each a stack of concentric shapes, each
    // strictly inside the one before, and sometimes a small cube in a
    // corner of the outermost octahedron's box, outside the octahedron.
    std::vector<Shape> shapes;
    const int cells = 1 + static_cast<int>(random() % 4);
    for (int cell = 0; cell < cells; ++cell) {
      const Point centre{50.0 + 100.0 * cell, 50.0 + 100.0 * static_cast<double>(random() % 2),
                         50.0};
      double radius = 45.0;
      bool octahedral = random() % 2 == 0;
      const int levels = 1 + static_cast<int>(random() % 4);
      for (int level = 0; level < levels && radius >= 2; ++level) {
        if (octahedral) {
          shapes.push_back(octahedron(centre, radius));
          if (level == 0 && random() % 2 == 0) {
            shapes.push_back(
                cube({centre[0] + radius - 6, centre[1] + radius - 6, centre[2] + radius - 6}, 5));
          }
        } else {
          shapes.push_back(
              cube({centre[0] - radius, centre[1] - radius, centre[2] - radius}, 2 * radius));
        }
        // What fits strictly inside: a cube of half side h in an
        // octahedron of radius r needs 3h < r; an octahedron in a cube, r < h.
        const bool next_octahedral = random() % 2 == 0;
        if (octahedral && !next_octahedral)
          radius = std::floor((radius - 1) / 3);
        else
          radius -= 1 + static_cast<double>(random() % 8);
        octahedral = next_octahedral;
      }
    }
    std::shuffle(shapes.begin(), shapes.end(), random);
    std::vector<IntegerShape> reference;
    std::vector<Triangle> soup;
    std::vector<std::size_t> first_facet;
    const Point offset = round % 2 == 0 ? Point{0, 0, 0} : Point{6.5e5, 5.3e6, 0};
    for (Shape& shape : shapes) {
      reference.push_back(integer_shape(shape));
      if (random() % 3 == 0) {
        shape = flipped(shape);
        reference.back().flipped = true;
      }
      first_facet.push_back(soup.size());
      for (Triangle t : shape) {
        for (Point& p : t) {
          for (std::size_t axis = 0; axis < 3; ++axis) p[axis] += offset[axis];
        }
        soup.push_back(t);
      }
    }
    const Nesting nesting = nest(soup);
    ASSERT_EQ(nesting.shells.size(), shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      SCOPED_TRACE(i);
      std::uint32_t depth = 0;
      for (std::size_t j = 0; j < shapes.size(); ++j) {
        if (j != i && encloses(reference[j], reference[i])) ++depth;
      }
      const std::uint32_t s = nesting.shell_of_facet[first_facet[i]];
      EXPECT_EQ(nesting.depths[s], depth);
      const bool cavity = depth % 2 == 1;
      const ShellFacing expected = reference[i].flipped == cavity ? ShellFacing::agrees
                                   : cavity ? ShellFacing::cavity_pointing_outward
                                            : ShellFacing::body_inside_out;
      EXPECT_EQ(geometry::facing_of(nesting.shells[s], nesting.depths[s]), expected);
    }
  }
}

}  // namespace
