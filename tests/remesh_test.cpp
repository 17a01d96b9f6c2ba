// The remesher checked from outside: every property is measured here with
// this file's own arithmetic (edge lengths, corner angles, edge use,
// volumes, point-to-triangle distances), on models whose surface is known.
#include "geometry/remesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "geometry/shape_figures.h"
#include "prepare/refine.h"
#include "support_models.h"

namespace {

using geometry::Point;
using geometry::Triangle;
using namespace testing_support;

Point minus(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point along(const Point& a, const Point& d, double t) {
  return {a[0] + t * d[0], a[1] + t * d[1], a[2] + t * d[2]};
}
double distance(const Point& a, const Point& b) { return std::sqrt(dot(minus(a, b), minus(a, b))); }

// The closest point of triangle abc to p, by the regions of its corners,
// sides and inside.
Point closest_on_triangle(const Point& p, const Triangle& t) {
  const Point& a = t[0];
  const Point& b = t[1];
  const Point& c = t[2];
  const Point ab = minus(b, a), ac = minus(c, a), ap = minus(p, a);
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return a;
  const Point bp = minus(p, b);
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return b;
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return along(a, ab, d1 / (d1 - d3));
  const Point cp = minus(p, c);
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return c;
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return along(a, ac, d2 / (d2 - d6));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    return along(b, minus(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6)));
  }
  const double denominator = 1.0 / (va + vb + vc);
  const double v = vb * denominator, w = vc * denominator;
  return {a[0] + ab[0] * v + ac[0] * w, a[1] + ab[1] * v + ac[1] * w, a[2] + ab[2] * v + ac[2] * w};
}

double distance_to_surface(const Point& p, const std::vector<Triangle>& surface) {
  double nearest = INFINITY;
  for (const Triangle& t : surface)
    nearest = std::min(nearest, distance(p, closest_on_triangle(p, t)));
  return nearest;
}

double distance_to_segment(const Point& p, const Point& a, const Point& b) {
  const Point d = minus(b, a);
  const double length2 = dot(d, d);
  const double t = length2 > 0 ? std::clamp(dot(minus(p, a), d) / length2, 0.0, 1.0) : 0.0;
  return distance(p, along(a, d, t));
}

double diagonal_of(const std::vector<Triangle>& facets) {
  Point low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
  for (const Triangle& t : facets) {
    for (const Point& p : t) {
      for (std::size_t k = 0; k < 3; ++k) {
        low[k] = std::min(low[k], p[k]);
        high[k] = std::max(high[k], p[k]);
      }
    }
  }
  return distance(low, high);
}

double signed_volume(const std::vector<Triangle>& facets) {
  double volume = 0;
  for (const Triangle& t : facets) {
    const Point& a = t[0];
    const Point& b = t[1];
    const Point& c = t[2];
    volume += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
               a[2] * (b[0] * c[1] - b[1] * c[0])) /
              6.0;
  }
  return volume;
}

double area_of(const std::vector<Triangle>& facets) {
  double area = 0;
  for (const Triangle& t : facets) area += geometry::twice_area(t) / 2.0;
  return area;
}

// Every side run once each way by two facets: closed and consistently
// oriented. Counts the sides that are not.
int unpaired_sides(const std::vector<Triangle>& facets) {
  std::map<std::pair<Point, Point>, int> runs;
  for (const Triangle& t : facets) {
    for (std::size_t k = 0; k < 3; ++k) ++runs[{t[k], t[(k + 1) % 3]}];
  }
  int bad = 0;
  for (const auto& [side, count] : runs) {
    const auto back = runs.find({side.second, side.first});
    if (count != 1 || back == runs.end() || back->second != 1) ++bad;
  }
  return bad;
}

// The sides of the input whose facets' normals differ by more than
// `degrees`.
std::vector<std::pair<Point, Point>> sharp_sides(const std::vector<Triangle>& facets,
                                                 double degrees) {
  std::map<std::pair<Point, Point>, Point> normal_of;
  const auto normal = [](const Triangle& t) {
    const Point u = minus(t[1], t[0]), w = minus(t[2], t[0]);
    const Point n = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                     u[0] * w[1] - u[1] * w[0]};
    const double length = std::sqrt(dot(n, n));
    return Point{n[0] / length, n[1] / length, n[2] / length};
  };
  for (const Triangle& t : facets) {
    for (std::size_t k = 0; k < 3; ++k) normal_of[{t[k], t[(k + 1) % 3]}] = normal(t);
  }
  std::vector<std::pair<Point, Point>> sharp;
  for (const auto& [side, n] : normal_of) {
    const auto other = normal_of.find({side.second, side.first});
    if (other == normal_of.end() || side.first > side.second) continue;
    if (dot(n, other->second) < std::cos(degrees * std::numbers::pi / 180.0)) {
      sharp.push_back(side);
    }
  }
  return sharp;
}

struct Model {
  std::string name;
  std::vector<Triangle> facets;
  double max_side;
  // How many facets the result may have, in equilateral triangles of
  // max_side over the area: curved parts need finer facets to stay within
  // the deviation.
  double most_facets_per_estimate;
};

std::vector<Model> models() {
  std::vector<Triangle> hollow = sphere_model(1.0, 3);
  const std::vector<Triangle> cavity = sphere_model(0.5, 2, {0.1, 0.0, 0.0}, true);
  hollow.insert(hollow.end(), cavity.begin(), cavity.end());
  return {
      {"sphere", sphere_model(1.0, 3), 0.2, 2.7},
      {"torus", torus_model(1.0, 0.4, 48, 24), 0.08, 3.9},
      {"box", box_model({0, 0, 0}, {1, 0.8, 0.6}), 0.15, 2.2},
      {"bar 10:1", box_model({0, 0, 0}, {10, 1, 1}), 0.3, 2.4},
      {"over-fine cube", fine_cube_model(24), 0.25, 2.3},
      {"sphere with a cavity", hollow, 0.2, 2.6},
      // Rim corners 6.5 mm apart on the inner circle for edges of 30 mm:
      // facets must grow away from the rims, or they end as needles.
      {"flange with fine rims", flange_model(0.1, 0.25, 0.03, 96), 0.03, 9.0},
  };
}

geometry::RemeshTargets targets_for(const Model& model) {
  return {.max_side = model.max_side,
          .max_deviation = std::min(model.max_side / 25.0, diagonal_of(model.facets) / 1000.0)};
}

geometry::Remeshed remeshed(const Model& model) {
  return geometry::remesh(model.facets, targets_for(model), [](std::string_view) {});
}

TEST(Remesh, KeepsTheSurfaceAndMeetsTheSize) {
  for (const Model& model : models()) {
    SCOPED_TRACE(model.name);
    const geometry::Remeshed out = remeshed(model);
    ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
    const double diagonal = diagonal_of(model.facets);

    EXPECT_EQ(unpaired_sides(out.triangles), 0);
    double longest = 0;
    for (const Triangle& t : out.triangles) {
      for (std::size_t k = 0; k < 3; ++k)
        longest = std::max(longest, distance(t[k], t[(k + 1) % 3]));
    }
    EXPECT_LE(longest, model.max_side);

    // Orientation and size: the volume keeps its sign (a cavity counts
    // against it) and both it and the area stay within half a percent.
    const double volume_in = signed_volume(model.facets);
    EXPECT_GT(volume_in, 0.0);
    EXPECT_NEAR(signed_volume(out.triangles) / volume_in, 1.0, 0.005);
    EXPECT_NEAR(area_of(out.triangles) / area_of(model.facets), 1.0, 0.005);

    // Every vertex on the input surface.
    double farthest = 0;
    for (const Triangle& t : out.triangles) {
      for (const Point& p : t) farthest = std::max(farthest, distance_to_surface(p, model.facets));
    }
    EXPECT_LE(farthest, 1e-6 * diagonal);
    EXPECT_LE(out.largest_deviation, targets_for(model).max_deviation * 1.0001);
  }
}

TEST(Remesh, WellShapedAndNotMoreThanNeeded) {
  for (const Model& model : models()) {
    SCOPED_TRACE(model.name);
    const geometry::Remeshed out = remeshed(model);
    ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
    std::size_t below_20 = 0;
    double smallest = 180;
    for (const Triangle& t : out.triangles) {
      const auto angles = geometry::corner_angles_degrees(t);
      const double least = std::min({angles[0], angles[1], angles[2]});
      smallest = std::min(smallest, least);
      if (least < 20.0) ++below_20;
    }
    EXPECT_GE(smallest, 5.0);
    EXPECT_LE(static_cast<double>(below_20), 0.01 * static_cast<double>(out.triangles.size()));
    const double estimate = geometry::equilateral_estimate(area_of(model.facets), model.max_side);
    EXPECT_LE(static_cast<double>(out.triangles.size()), model.most_facets_per_estimate * estimate);
  }
}

TEST(Remesh, SharpEdgesStayAsChainsOfEdges) {
  for (const Model& model : models()) {
    SCOPED_TRACE(model.name);
    const geometry::Remeshed out = remeshed(model);
    ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
    const auto sharp = sharp_sides(model.facets, 30.0);
    const double tolerance = 1e-6 * diagonal_of(model.facets);
    for (const auto& [a, b] : sharp) {
      for (const double t : {0.0, 0.37, 0.5, 1.0}) {
        const Point p = along(a, minus(b, a), t);
        double nearest = INFINITY;
        for (const Triangle& f : out.triangles) {
          for (std::size_t k = 0; k < 3; ++k) {
            nearest = std::min(nearest, distance_to_segment(p, f[k], f[(k + 1) % 3]));
          }
        }
        ASSERT_LE(nearest, tolerance) << "sharp side point " << p[0] << " " << p[1] << " " << p[2];
      }
    }
    EXPECT_EQ(out.sharp_edges_in, static_cast<std::int64_t>(sharp.size()));
    EXPECT_EQ(out.sharp_edges_kept, out.sharp_edges_in);
  }
}

TEST(Remesh, NeedleRefinementStaysWithinTheBudget) {
  // Without a budget the rims of the flange are refined in bands; with one
  // a band that would pass it is undone, so the caller's cheaper method
  // can be chosen instead.
  const std::vector<Triangle> flange = flange_model(0.1, 0.25, 0.03, 96);
  const auto remesh_within = [&flange](std::int64_t budget) {
    return geometry::remesh(flange,
                            {.max_side = 0.03, .max_deviation = 0.0012, .facet_budget = budget},
                            [](std::string_view) {});
  };
  const geometry::Remeshed free = remesh_within(0);
  ASSERT_EQ(free.status, geometry::RemeshStatus::remeshed);
  const auto facets = static_cast<std::int64_t>(free.triangles.size());
  struct Case {
    std::int64_t budget;
    bool same_as_free;
  };
  const Case cases[] = {
      {facets, true},  // exactly what the refinement needs
      {1, false},      // every band undone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.budget);
    const geometry::Remeshed out = remesh_within(c.budget);
    ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
    if (c.same_as_free) {
      EXPECT_EQ(out.triangles, free.triangles);
    } else {
      EXPECT_LT(static_cast<std::int64_t>(out.triangles.size()), facets);
      EXPECT_EQ(unpaired_sides(out.triangles), 0);
    }
  }
}

TEST(Remesh, FewerAndBetterShapedElementsThanBisection) {
  // A 10:1 bar as twelve facets with 5.7-degree corners, which bisection
  // keeps in every piece.
  const std::vector<Triangle> bar = box_model({0, 0, 0}, {10, 1, 1});
  const double max_side = 0.3;
  std::vector<Triangle> bisected;
  prepare::refine_facets(bar, max_side, [&bisected](const Triangle& piece, double) {
    bisected.push_back(piece);
    return true;
  });
  const geometry::Remeshed out =
      geometry::remesh(bar, {.max_side = max_side, .max_deviation = 0.01}, [](std::string_view) {});
  ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
  const geometry::ShapeFigures before = geometry::measure_shapes(bisected);
  const geometry::ShapeFigures after = geometry::measure_shapes(out.triangles);
  EXPECT_LT(after.facets, before.facets);
  EXPECT_GT(after.smallest_angle_degrees, before.smallest_angle_degrees + 5.0);
  EXPECT_LT(after.largest_aspect_ratio, before.largest_aspect_ratio);
  EXPECT_LE(after.longest_side, max_side);
}

TEST(Remesh, AnOpenBorderStaysWhereItWas) {
  // A box without its top: the border is the top square, kept as edges.
  std::vector<Triangle> open = box_model({0, 0, 0}, {1, 1, 1});
  std::erase_if(open,
                [](const Triangle& t) { return t[0][2] == 1 && t[1][2] == 1 && t[2][2] == 1; });
  ASSERT_EQ(open.size(), 10U);
  const geometry::Remeshed out =
      geometry::remesh(open, {.max_side = 0.2, .max_deviation = 0.001}, [](std::string_view) {});
  ASSERT_EQ(out.status, geometry::RemeshStatus::remeshed);
  // Sides used once lie on the top square, and cover it.
  std::map<std::pair<Point, Point>, int> runs;
  for (const Triangle& t : out.triangles) {
    for (std::size_t k = 0; k < 3; ++k) ++runs[std::minmax(t[k], t[(k + 1) % 3])];
  }
  double border_length = 0;
  for (const auto& [side, count] : runs) {
    ASSERT_LE(count, 2);
    if (count == 2) continue;
    EXPECT_EQ(side.first[2], 1.0);
    EXPECT_EQ(side.second[2], 1.0);
    border_length += distance(side.first, side.second);
  }
  EXPECT_NEAR(border_length, 4.0, 1e-12);
}

TEST(Remesh, RefusesWhatIsNotASurface) {
  std::vector<Triangle> fin = box_model({0, 0, 0}, {1, 1, 1});
  // A third facet on the edge from (0,0,0) to (1,0,0): non-manifold.
  fin.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5, -1, 0.5}});
  struct Case {
    std::string name;
    std::vector<Triangle> facets;
    geometry::RemeshStatus status;
  };
  const Case cases[] = {
      {"no facets", {}, geometry::RemeshStatus::no_facets},
      {"three facets on an edge", fin, geometry::RemeshStatus::not_a_surface},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const geometry::Remeshed out = geometry::remesh(
        c.facets, {.max_side = 0.3, .max_deviation = 0.01}, [](std::string_view) {});
    EXPECT_EQ(out.status, c.status);
    EXPECT_TRUE(out.triangles.empty());
  }
}

}  // namespace
