// The vocabulary both companions share: the findings list and its JSON,
// the same facts of one file from the preparation that wrote it and the
// check that reads it, and the shape of elements on triangles whose angles
// are known by construction.
#include "companion/findings.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "box_facets.h"
#include "geometry/shape_figures.h"
#include "support.h"
#include "support_cli.h"
#include "support_models.h"

namespace {

using testing_support::converter_style;

using geometry::Point;
using geometry::Triangle;
using Facets = std::vector<Triangle>;
using testing_support::json_value;
using testing_support::TempDir;

Facets box(const Point& low, const Point& high) {
  Facets facets;
  for (const auto& ids : testing_support::BOX_FACETS) {
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        t[k][axis] = ((ids[k] >> axis) & 1) != 0 ? high[axis] : low[axis];
      }
    }
    facets.push_back(t);
  }
  return facets;
}

Facets operator+(Facets a, const Facets& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A strip of four squares whose ends are joined with a half twist: every
// facet has a neighbour on each inner edge, and no way of turning them
// makes all agree, so one edge stays run the same way by both its facets.
Facets half_twisted_strip() {
  const std::array<Point, 8> p = {Point{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0},
                                  Point{0, 1, 0}, {1, 1, 0}, {2, 1, 1}, {3, 1, 1}};
  // Squares 0-1, 1-2, 2-3, and 3 back to 0 with the rows swapped: its
  // sides 3-7 and 0-4 are shared, 3-4 and 7-0 are the rim.
  return {{p[0], p[1], p[5]}, {p[0], p[5], p[4]}, {p[1], p[2], p[6]}, {p[1], p[6], p[5]},
          {p[2], p[3], p[7]}, {p[2], p[7], p[6]}, {p[3], p[7], p[0]}, {p[3], p[0], p[4]}};
}

// ---------------------------------------------------------------------------
// The list and its JSON

TEST(Findings, ListedInTheOrderOfTheKindsWithoutEmptyOnes) {
  const std::vector<companion::Finding> given = {
      {"wavelength", 12, {2, 9}},
      {"an_unknown_kind", 1, {}},
      {"open_edges", 0, {}},
      {"nonmanifold_edges", 1, {9, 30, 86}},
  };
  const std::vector<companion::Finding> listed = companion::listed_findings(given);
  EXPECT_EQ(companion::json_findings(listed),
            "[{\"kind\": \"nonmanifold_edges\", \"count\": 1, \"lines\": [9, 30, 86]}, "
            "{\"kind\": \"wavelength\", \"count\": 12, \"lines\": [2, 9]}, "
            "{\"kind\": \"an_unknown_kind\", \"count\": 1, \"lines\": []}]");
  EXPECT_EQ(companion::json_findings({}), "[]");
}

TEST(Findings, CountedInTheWordsOfTheirKind) {
  struct Case {
    companion::Finding finding;
    std::string_view words;
  };
  const Case cases[] = {
      {{"open_edges", 1, {}}, "1 open edge"},
      {{"open_edges", 1234, {}}, "1,234 open edges"},
      {{"nonmanifold_edges", 2, {}}, "2 non-manifold edges"},
      {{"inverted_shells", 1, {}}, "1 body inside out"},
      {{"inverted_shells", 3, {}}, "3 bodies inside out"},
      {{"flat_shells", 1, {}}, "1 closed shell encloses no volume"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(companion::counted_words(c.finding), c.words);
  }
  // Every kind has a name of its own and words for one and many.
  for (std::size_t i = 0; i < std::size(companion::FINDING_KINDS); ++i) {
    const companion::FindingKind& kind = companion::FINDING_KINDS[i];
    SCOPED_TRACE(kind.name);
    EXPECT_FALSE(kind.one.empty());
    EXPECT_FALSE(kind.many.empty());
    for (std::size_t j = 0; j < i; ++j) EXPECT_NE(companion::FINDING_KINDS[j].name, kind.name);
  }
}

// ---------------------------------------------------------------------------
// Both companions on one file

// The facts both report of the model: the preparation of the file it
// wrote, the check of that file when it reads it.
constexpr std::string_view SHARED_KEYS[] = {
    "facets",
    "open_edges",
    "gap_edges",
    "widest_gap",
    "nonmanifold_edges",
    "misoriented_edges",
    "shells",
    "cavities",
    "longest_edge",
    "smallest_angle",
    "smallest_angle_line",
    "largest_aspect_ratio",
    "largest_aspect_ratio_line",
    "findings",
    "ready",
};

TEST(BothCompanions, SayTheSameOfTheFilePrepareWrote) {
  const Facets cube = box({0, 0, 0}, {1, 1, 1});
  Facets fin = cube;
  fin.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5, -1, 0.5}});
  Facets hole = cube;
  hole.erase(hole.begin() + 2);
  const Facets glued = cube + box({1, 0, 0}, {2, 1, 1});
  const Facets three = cube + box({1, 1, 0}, {2, 2, 1}) + box({0, 1, 0}, {1, 2, 1});
  struct Case {
    std::string_view name;
    Facets model;
    std::vector<std::string> arguments;
    std::string_view key;  // a fact known by construction
    std::string_view value;
  };
  const std::vector<std::string> as_is = {"--no-refine", "--frequency", "1"};
  const std::vector<std::string> bisected = {"--refine-only", "--frequency", "300"};
  const std::vector<std::string> remeshed = {"--frequency", "300"};
  const Case cases[] = {
      {"cube", cube, as_is, "findings", "[]"},
      {"cube, bisected", cube, bisected, "open_edges", "0"},
      {"fin", fin, as_is, "nonmanifold_edges", "1"},
      // Each edge of the written model once: the fin's edge cut in eight.
      {"fin, bisected", fin, bisected, "nonmanifold_edges", "8"},
      {"fin, remeshed or bisected", fin, remeshed, "ready", "false"},
      {"hole", hole, as_is, "open_edges", "3"},
      {"hole, bisected", hole, bisected, "ready", "false"},
      // The copies of the glued face are dropped; its four sides stay
      // shared by three facets each.
      {"glued", glued, as_is, "nonmanifold_edges", "4"},
      {"three boxes on one edge", three, as_is, "nonmanifold_edges", "7"},
      {"three boxes, bisected", three, bisected, "ready", "false"},
      {"half twist", half_twisted_strip(), as_is, "misoriented_edges", "1"},
      {"cube too coarse", cube, {"--no-refine", "--frequency", "300"}, "ready", "false"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), "--json");
    arguments.insert(arguments.end(), {"in.stl", "out.stl"});
    const testing_support::RunResult prepared = testing_support::run_prepare(dir, arguments);
    ASSERT_NE(prepared.status, 2) << prepared.err;
    const std::string frequency = c.arguments[c.arguments.size() - 1];
    const testing_support::RunResult checked =
        testing_support::run_check(dir, {"--json", "--frequency", frequency, "out.stl"});
    EXPECT_EQ(prepared.status, checked.status) << prepared.out << checked.out;
    for (const std::string_view key : SHARED_KEYS) {
      SCOPED_TRACE(key);
      EXPECT_NE(json_value(prepared.out, key), "<missing>");
      EXPECT_EQ(json_value(prepared.out, key), json_value(checked.out, key));
    }
    EXPECT_EQ(json_value(prepared.out, c.key), c.value);
  }
}

// A run that ends with 1 says why in its findings, kind by kind, with the
// lines of the file it wrote.
TEST(PrepareFindings, SayWhyTheRunEndedWithOne) {
  const Facets cube = box({0, 0, 0}, {1, 1, 1});
  struct Case {
    std::string_view name;
    Facets model;
    std::vector<std::string> arguments;
    std::string_view findings;
  };
  const Case cases[] = {
      {"a half twist cannot be oriented",
       half_twisted_strip(),
       {"--no-refine", "--frequency", "1"},
       R"([{"kind": "open_edges", "count": 8, "lines": [2, 9, 16, 23, 30, 37, 44, 51]}, )"
       R"({"kind": "misoriented_edges", "count": 1, "lines": [30, 44]}])"},
      // At 300 Hz the wavelength over 6 is 0.19: every facet of the unit
      // cube has a longer side.
      {"edges longer than the wavelength allows, not refined",
       cube,
       {"--no-refine", "--frequency", "300"},
       R"([{"kind": "wavelength", "count": 12, )"
       R"("lines": [2, 9, 16, 23, 30, 37, 44, 51, 58, 65]}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), "--json");
    arguments.insert(arguments.end(), {"in.stl", "out.stl"});
    const testing_support::RunResult run = testing_support::run_prepare(dir, arguments);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(json_value(run.out, "ready"), "false");
    EXPECT_EQ(json_value(run.out, "findings"), c.findings);
  }
}

// ---------------------------------------------------------------------------
// The shape of elements

// A triangle in the plane z = 0 with the angle `degrees` at the origin
// between a side of length 1 along x and one of length `other`.
Triangle with_angle(double degrees, double other = 1.0) {
  const double radians = degrees * std::numbers::pi / 180.0;
  return {Point{0, 0, 0}, Point{1, 0, 0},
          Point{other * std::cos(radians), other * std::sin(radians), 0}};
}

Triangle scaled(Triangle t, double factor) {
  for (Point& p : t) {
    for (double& v : p) v *= factor;
  }
  return t;
}

TEST(ElementShape, AnglesAndAspectRatiosOfConstructedTriangles) {
  const Triangle equilateral = with_angle(60.0);
  // A needle: tan(1e-8 degrees) as its height over a side of 1.
  const double tan_needle = std::tan(1e-8 * std::numbers::pi / 180.0);
  const Triangle needle = {Point{0, 0, 0}, Point{1, 0, 0}, Point{1, tan_needle, 0}};
  struct Case {
    std::string_view name;
    Triangle facet;
    double angle;      // degrees
    double ratio;      // longest side over shortest height, 1 when equilateral
    double tolerance;  // relative
  };
  const Case cases[] = {
      {"equilateral", equilateral, 60.0, 1.0, 1e-14},
      {"equilateral at 1e200", scaled(equilateral, 1e200), 60.0, 1.0, 1e-14},
      {"equilateral at 1e-200", scaled(equilateral, 1e-200), 60.0, 1.0, 1e-14},
      {"right isosceles",
       {Point{0, 0, 0}, Point{1, 0, 0}, Point{0, 1, 0}},
       45.0,
       std::numbers::sqrt3,
       1e-14},
      // The longest side is 1 / cos, the height over it tan * cos.
      {"needle of 1e-8 degrees", needle, 1e-8,
       std::numbers::sqrt3 / 2.0 /
           (tan_needle * std::pow(std::cos(1e-8 * std::numbers::pi / 180), 2)),
       1e-9},
      {"corners in a line", {Point{0, 0, 0}, Point{1, 0, 0}, Point{3, 0, 0}}, 0.0, INFINITY, 0},
      {"two corners one point", {Point{0, 0, 0}, Point{0, 0, 0}, Point{0, 2, 0}}, 0.0, INFINITY, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(geometry::smallest_angle_degrees(c.facet), c.angle, c.angle * c.tolerance);
    if (std::isinf(c.ratio)) {
      EXPECT_EQ(geometry::aspect_ratio(c.facet), INFINITY);
    } else {
      EXPECT_NEAR(geometry::aspect_ratio(c.facet), c.ratio, c.ratio * c.tolerance);
    }
    // Every corner turned to the front gives the same figures.
    const Triangle turned = {c.facet[1], c.facet[2], c.facet[0]};
    EXPECT_NEAR(geometry::smallest_angle_degrees(turned), c.angle, c.angle * c.tolerance);
  }
}

// The one angle measured is the smallest of the three, whichever it is.
TEST(ElementShape, SmallestAngleIsTheLeastOfAllThree) {
  std::mt19937_64 random(27);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  for (int i = 0; i < 2000; ++i) {
    Triangle t{};
    for (Point& p : t) {
      for (double& v : p) v = coordinate(random);
    }
    const std::array<double, 3> all = geometry::corner_angles_degrees(t);
    EXPECT_NEAR(geometry::smallest_angle_degrees(t), std::min({all[0], all[1], all[2]}), 1e-9);
  }
}

// The model's worst facets are found and named by their lines, in the
// check's summary and JSON alike; the non-finite facet takes no part.
TEST(ElementShape, TheCheckNamesTheWorstFacetsByTheirLines) {
  Facets model = box({0, 0, 0}, {1, 1, 1});
  // Facet 12 (line 86): a needle on the cube's bottom; facet 13 (line 93):
  // not finite; facet 14 (line 100): a flatter one with the larger ratio.
  model.push_back(with_angle(0.5));
  model.push_back({Point{0, 0, 0}, Point{NAN, 0, 0}, Point{1, 1, 0}});
  model.push_back({Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5, 1e-4, 0}});
  TempDir dir;
  dir.write("model.stl", converter_style(model));
  const testing_support::RunResult json = testing_support::run_check(dir, {"--json", "model.stl"});
  const double flattest = std::atan(1e-4 / 0.5) * 180 / std::numbers::pi;
  EXPECT_NEAR(std::stod(json_value(json.out, "smallest_angle")), flattest, flattest * 1e-12);
  EXPECT_EQ(json_value(json.out, "smallest_angle_line"), "100");
  EXPECT_EQ(json_value(json.out, "largest_aspect_ratio_line"), "100");
  const testing_support::RunResult summary = testing_support::run_check(dir, {"model.stl"});
  EXPECT_NE(
      summary.out.find("  shape                   smallest angle 0.0114592 degrees (line 100), "
                       "largest aspect ratio 8660.25 (line 100)\n"),
      std::string::npos)
      << summary.out;
}

}  // namespace
