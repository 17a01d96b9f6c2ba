// T-junctions, slivers and needles: the shape limit, the search for
// vertices on open sides, and what the check and the preparation make of
// models whose truth is known by construction (a cube with one face split
// along a side its neighbour keeps whole, with and without the sliver that
// closes the seam). Coordinates are whole numbers, so the reference in this
// file decides closedness and T-junctions exactly; admesh gives a second
// opinion on the open sides where it counts the same thing.
#include "geometry/t_junctions.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <numbers>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "box_facets.h"
#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"
#include "geometry/vertex_merge.h"
#include "prepare/mend.h"
#include "reading/model_reader.h"
#include "support.h"
#include "support_cli.h"
#include "support_models.h"

namespace {

using testing_support::converter_style;

using geometry::Point;
using geometry::Triangle;
using testing_support::json_value;
using testing_support::TempDir;
using Facets = std::vector<Triangle>;

// ---------------------------------------------------------------------------
// Models

// A cube of edge `s` from the origin, its top face (z = s) split at `m`, a
// point on its front side from (0, 0, s) to (s, 0, s): three facets there
// where the front face keeps that side whole.
Facets split_top_cube(double s, const Point& m) {
  Facets facets;
  for (const auto& ids : testing_support::BOX_FACETS) {
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) {
      const auto id = static_cast<unsigned>(ids[k]);
      for (std::size_t axis = 0; axis < 3; ++axis) t[k][axis] = ((id >> axis) & 1U) ? s : 0.0;
    }
    const bool top = t[0][2] == s && t[1][2] == s && t[2][2] == s;
    if (!top) facets.push_back(t);
  }
  const Point p{0, 0, s};
  const Point q{s, 0, s};
  facets.push_back({p, m, Point{0, s, s}});
  facets.push_back({m, Point{s, s, s}, Point{0, s, s}});
  facets.push_back({m, q, Point{s, s, s}});
  return facets;
}

// The facet that closes the seam of split_top_cube: on the front side, from
// p to q and back through m, run against the three facets around it.
Triangle seam_facet(double s, const Point& m) { return {Point{0, 0, s}, Point{s, 0, s}, m}; }

Facets plus(Facets facets, const Triangle& t) {
  facets.push_back(t);
  return facets;
}

std::string shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

Facets read_facets(const std::filesystem::path& path) {
  reading::ModelRead model;
  const std::string text = testing_support::read_file(path);
  const int fd = ::open(path.c_str(), O_RDONLY);
  const std::string problem = reading::read_model(fd, text.size(), model);
  ::close(fd);
  EXPECT_EQ(problem, "") << path;
  return model.facets;
}

// ---------------------------------------------------------------------------
// The reference: exact on coordinates that are multiples of 2^-20 below
// 2^40 (products of two differences stay below 2^121, in a 128-bit integer).

__extension__ typedef __int128 Exact;
using Key = std::tuple<double, double, double>;
Key key_of(const Point& c) { return {c[0], c[1], c[2]}; }

// Every directed side used once, and its reverse once.
bool closed_and_consistent(const Facets& facets) {
  std::map<std::pair<Key, Key>, int> directed;
  for (const Triangle& f : facets) {
    for (std::size_t k = 0; k < 3; ++k) ++directed[{key_of(f[k]), key_of(f[(k + 1) % 3])}];
  }
  for (const auto& [side, uses] : directed) {
    if (uses != 1) return false;
    const auto back = directed.find({side.second, side.first});
    if (back == directed.end() || back->second != 1) return false;
  }
  return true;
}

// Sides used by one facet (either way), and the corners strictly inside
// one of them on the line through it: T-junctions, counted exactly.
struct OpenTruth {
  int open_sides = 0;
  int t_junctions = 0;
};

OpenTruth open_truth(const Facets& facets) {
  std::map<std::pair<Key, Key>, int> undirected;
  for (const Triangle& f : facets) {
    for (std::size_t k = 0; k < 3; ++k) {
      Key a = key_of(f[k]);
      Key b = key_of(f[(k + 1) % 3]);
      if (b < a) std::swap(a, b);
      if (a != b) ++undirected[{a, b}];
    }
  }
  OpenTruth truth;
  std::set<Key> ends;
  std::vector<std::pair<Key, Key>> open;
  for (const auto& [side, uses] : undirected) {
    if (uses != 1) continue;
    ++truth.open_sides;
    open.push_back(side);
    ends.insert(side.first);
    ends.insert(side.second);
  }
  // Scaled by 2^20, exact for the halves and quarters of the models.
  const auto exact = [](const Key& k) {
    return std::array<Exact, 3>{static_cast<Exact>(std::ldexp(std::get<0>(k), 20)),
                                static_cast<Exact>(std::ldexp(std::get<1>(k), 20)),
                                static_cast<Exact>(std::ldexp(std::get<2>(k), 20))};
  };
  for (const auto& [a_key, b_key] : open) {
    const auto a = exact(a_key);
    const auto b = exact(b_key);
    for (const Key& v_key : ends) {
      const auto v = exact(v_key);
      std::array<Exact, 3> d{};
      std::array<Exact, 3> e{};
      for (std::size_t i = 0; i < 3; ++i) {
        d[i] = v[i] - a[i];
        e[i] = b[i] - a[i];
      }
      const bool on_line =
          d[1] * e[2] == d[2] * e[1] && d[2] * e[0] == d[0] * e[2] && d[0] * e[1] == d[1] * e[0];
      const Exact along = d[0] * e[0] + d[1] * e[1] + d[2] * e[2];
      const Exact side = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
      if (on_line && along > 0 && along < side) ++truth.t_junctions;
    }
  }
  return truth;
}

// ---------------------------------------------------------------------------
// The shape limit

// A triangle with its smallest angle, `degrees`, at the origin between the
// x axis and a side of the same length: an isosceles needle, scaled.
Triangle needle(double degrees, double scale) {
  const double radians = degrees * std::numbers::pi / 180.0;
  return {Point{0, 0, 0}, Point{scale, 0, 0},
          Point{scale * std::cos(radians), scale * std::sin(radians), 0}};
}

TEST(ShapeLimit, NeedlesAndCapsBelowTheSmallestAngleAtAnyScale) {
  struct Case {
    std::string_view name;
    Triangle triangle;
    double min_angle;
    bool degenerate;
  };
  const Case cases[] = {
      {"equilateral", needle(60.0, 1.0), 0.5, false},
      {"needle just above the limit", needle(0.5001, 1.0), 0.5, false},
      {"needle just below the limit", needle(0.4999, 1.0), 0.5, true},
      {"the same, limit off", needle(0.4999, 1.0), 0.0, false},
      {"needle below, tiny", needle(0.4999, 0x1p-500), 0.5, true},
      {"needle above, tiny", needle(0.5001, 0x1p-500), 0.5, false},
      {"needle below, huge", needle(0.4999, 0x1p500), 0.5, true},
      {"needle above, huge", needle(0.5001, 0x1p500), 0.5, false},
      // A cap: two small angles, the apex 1e-3 off the middle of the base.
      {"cap", {Point{0, 0, 0}, Point{2, 0, 0}, Point{1, 1e-3, 0}}, 0.5, true},
      {"cap, limit off", {Point{0, 0, 0}, Point{2, 0, 0}, Point{1, 1e-3, 0}}, 0.0, false},
      // Twice the area 1e-10 of the longest side squared: about 1e-8
      // degrees, a sliver to no area test but a needle to the angle.
      {"the issue's needle", {Point{0, 0, 0}, Point{2, 0, 0}, Point{1, 2e-10, 0}}, 0.5, true},
      {"flat, limit off", {Point{0, 0, 0}, Point{2, 0, 0}, Point{1, 2e-13, 0}}, 0.0, true},
      {"all corners one", {Point{1, 1, 1}, Point{1, 1, 1}, Point{1, 1, 1}}, 0.0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(geometry::is_degenerate_shape(c.triangle, c.min_angle), c.degenerate);
    EXPECT_EQ(geometry::ShapeLimit(c.min_angle).degenerate(c.triangle), c.degenerate);
  }
}

// A facet 1e-9 high whose apex merges with a vertex on its base is flat
// once merged: classified where its corners go, it is degenerate even
// with the angle limit off, as the written model will show it.
TEST(ShapeLimit, FacetsAreJudgedWhereTheirCornersMerge) {
  const Facets facets = {
      {Point{0, 0, 0}, Point{1, 0, 0}, Point{0.5, 1e-9, 0}},
      {Point{0.5, 0, 0}, Point{1, 0, 0}, Point{0.5, 0, 1}},
  };
  const geometry::VertexMerge merge =
      geometry::merge_vertices(facets, geometry::finite_box(facets));
  ASSERT_EQ(merge.vertex_ids[0][2], merge.vertex_ids[1][0]);
  EXPECT_EQ(geometry::classify_facets(facets, merge.vertex_ids, 0.0)[0],
            geometry::FacetRole::member);
  EXPECT_EQ(geometry::classify_merged_facets(facets, merge, 0.0)[0],
            geometry::FacetRole::degenerate);
  EXPECT_EQ(geometry::classify_merged_facets(facets, merge, 0.0)[1], geometry::FacetRole::member);
}

// ---------------------------------------------------------------------------
// The search

TEST(TJunctions, VerticesInsideOpenSidesWithinTheTolerance) {
  const double s = 2.0;
  struct Case {
    std::string_view name;
    Facets model;
    std::vector<double> along;  // of each T-junction found, in order
  };
  std::vector<Case> cases;
  // The seam closed by a sliver: the sliver takes no part in the edges, so
  // its T-junction is there all the same.
  cases.push_back({"seam with its sliver",
                   plus(split_top_cube(s, {1, 0, s}), seam_facet(s, {1, 0, s})),
                   {0.5}});
  cases.push_back({"whole cube", split_top_cube(s, {0, 0, s}), {}});
  cases.push_back({"split at the middle", split_top_cube(s, {1, 0, s}), {0.5}});
  cases.push_back({"split at a quarter", split_top_cube(s, {0.5, 0, s}), {0.75}});
  // 1e-10 off the side, far within the tolerance (3.5e-9): still on it.
  cases.push_back({"just off the side", split_top_cube(s, {1, 0, s + 1e-10}), {0.5}});
  // 1e-6 off: a crack, not a T-junction.
  cases.push_back({"too far off", split_top_cube(s, {1, 0, s + 1e-6}), {}});
  {
    // Two vertices on the one side: a second split of the top face.
    Facets two = split_top_cube(s, {1, 0, s});
    two.erase(two.end() - 1);
    two.push_back({Point{1, 0, s}, Point{1.5, 0, s}, Point{s, s, s}});
    two.push_back({Point{1.5, 0, s}, Point{s, 0, s}, Point{s, s, s}});
    cases.push_back({"two on one side", two, {0.25, 0.5}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const geometry::VertexMerge merge =
        geometry::merge_vertices(c.model, geometry::finite_box(c.model));
    std::vector<geometry::FacetRole> roles = geometry::classify_facets(c.model, merge.vertex_ids);
    const geometry::EdgeTopology topology = geometry::analyse_edges(
        merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
    const std::vector<geometry::TJunction> found =
        geometry::find_t_junctions(c.model, merge.vertex_ids, topology, merge.tolerance);
    ASSERT_EQ(found.size(), c.along.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      // The front face's facet on the top side (x + 4z numbering: 4 to 5).
      const Triangle& t = c.model[found[i].facet];
      const Point& a = t[found[i].side];
      const Point& b = t[(found[i].side + 1U) % 3];
      EXPECT_EQ(a[1], 0.0);
      EXPECT_EQ(b[1], 0.0);
      EXPECT_EQ(a[2], s);
      EXPECT_EQ(b[2], s);
      EXPECT_NEAR(found[i].along, c.along[i], 1e-9);
    }
    if (c.name != "just off the side" && c.name != "too far off" &&
        c.name != "seam with its sliver" && c.name != "whole cube") {
      EXPECT_EQ(std::ssize(found), open_truth(c.model).t_junctions);
    }
  }
}

// A model with many open sides is searched by sorting, not all pairs: a
// grid of 300 x 300 open squares (360,000 facets, every side open) in a
// plane, none with a T-junction, and one split square that has one.
TEST(TJunctions, ManyOpenSidesStayNearLinear) {
  Facets sheet;
  constexpr int N = 300;
  for (int i = 0; i < N; ++i) {
    for (int j = 0; j < N; ++j) {
      // Squares apart from each other by a gap of a tenth: all sides open.
      const double x = 1.1 * i;
      const double y = 1.1 * j;
      sheet.push_back({Point{x, y, 0}, Point{x + 1, y, 0}, Point{x + 1, y + 1, 0}});
      sheet.push_back({Point{x, y, 0}, Point{x + 1, y + 1, 0}, Point{x, y + 1, 0}});
    }
  }
  // A facet whose corner sits in the middle of the first square's bottom.
  sheet.push_back({Point{0.5, 0, 0}, Point{0.5, -1, 0}, Point{0.75, -1, 0}});
  const geometry::VertexMerge merge = geometry::merge_vertices(sheet, geometry::finite_box(sheet));
  std::vector<geometry::FacetRole> roles = geometry::classify_facets(sheet, merge.vertex_ids);
  const geometry::EdgeTopology topology = geometry::analyse_edges(
      merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
  const std::vector<geometry::TJunction> found =
      geometry::find_t_junctions(sheet, merge.vertex_ids, topology, merge.tolerance);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_EQ(found[0].facet, 0U);
  EXPECT_EQ(found[0].side, 0U);
}

// ---------------------------------------------------------------------------
// The commands

// Integer models: the split-top cube at 2 (its middle 1) and at 2e10, where
// a corner 2 off a side is a needle of twice the area 1e-10 of its longest
// side squared (about 1e-8 degrees), well within the tolerance (34.6).
constexpr double BIG = 2e10;

struct CommandCase {
  std::string_view name;
  Facets model;
  double volume;  // of the closed body written; 0 when it is not closed
  // The check on the model as read.
  std::string_view open_edges;
  std::string_view t_junctions;
  std::string_view degenerate;
  // The preparation.
  int status;
  std::map<std::string_view, std::string_view> mended;
};

std::vector<CommandCase> command_cases() {
  std::vector<CommandCase> cases;
  const Point middle{1, 0, 2};
  cases.push_back({"T-junction",
                   split_top_cube(2, middle),
                   8,
                   "3",
                   "1",
                   "0",
                   0,
                   {{"t_junctions_closed", "1"}, {"facets", "14"}}});
  // Degenerate facets take no part in the edges, so the check sees the
  // seam the sliver closes as open, with its T-junction.
  cases.push_back({"sliver closing a T-junction",
                   plus(split_top_cube(2, middle), seam_facet(2, middle)),
                   8,
                   "3",
                   "1",
                   "1",
                   0,
                   {{"slivers_swapped", "1"}, {"facets", "14"}, {"dropped_degenerate", "0"}}});
  const Point off{BIG / 2, 0, BIG + 2};
  cases.push_back({"needle closing a T-junction",
                   plus(split_top_cube(BIG, off), seam_facet(BIG, off)),
                   BIG * BIG * BIG,
                   "3",
                   "1",
                   "1",
                   0,
                   {{"slivers_swapped", "1"}, {"facets", "14"}}});
  // The corner 1e6 from the top's front left corner (beyond the tolerance):
  // the seam facet and the top facet beside it (an angle of 0.003 degrees)
  // are needles on one short side, which collapses into the cube's corner.
  const Point near_corner{1e6, 0, BIG};
  cases.push_back({"needle on a short side",
                   plus(split_top_cube(BIG, near_corner), seam_facet(BIG, near_corner)),
                   BIG * BIG * BIG,
                   "4",
                   "1",
                   "2",
                   0,
                   {{"needles_collapsed", "1"}, {"facets", "12"}}});
  // The split corner exactly at the top's front left corner: a facet with a
  // side of zero length, whose removal is the collapse.
  const Point at_corner{0, 0, 2};
  cases.push_back({"zero-length side",
                   split_top_cube(2, at_corner),
                   8,
                   "0",
                   "0",
                   "1",
                   0,
                   {{"dropped_degenerate", "1"}, {"facets", "12"}}});
  {
    // A hole beside the T-junction: the seam closes, the hole stays.
    Facets holed = split_top_cube(2, middle);
    holed.erase(holed.begin());
    cases.push_back({"T-junction beside a hole",
                     holed,
                     0,
                     "6",
                     "1",
                     "0",
                     1,
                     {{"t_junctions_closed", "1"}, {"open_edges", "3"}}});
  }
  return cases;
}

TEST(TJunctionCommands, CheckFindsAndPrepareMendsWithoutOpeningTheSurface) {
  for (const CommandCase& c : command_cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    const auto checked = testing_support::run_check(dir, {"--json", "in.stl"});
    EXPECT_EQ(checked.status, 1) << checked.err;
    EXPECT_EQ(json_value(checked.out, "open_edges"), c.open_edges);
    EXPECT_EQ(json_value(checked.out, "t_junctions"), c.t_junctions);
    EXPECT_EQ(json_value(checked.out, "degenerate_facets"), c.degenerate);
    EXPECT_EQ(json_value(checked.out, "min_angle"), "0.5");
    // The reference agrees on the open sides and the T-junctions where no
    // facet is degenerate (degenerate facets take no part in the edges).
    if (c.degenerate == "0") {
      const OpenTruth truth = open_truth(c.model);
      EXPECT_EQ(std::to_string(truth.open_sides), c.open_edges);
      EXPECT_EQ(std::to_string(truth.t_junctions), c.t_junctions);
    }

    // Edges of up to twice the cube's are fine enough.
    const std::string frequency = shortest(343 / (12 * geometry::finite_box(c.model)->highest[0]));
    const auto prepared = testing_support::run_prepare(
        dir, {"--json", "--no-refine", "--frequency", frequency, "in.stl", "out.stl"});
    EXPECT_EQ(prepared.status, c.status) << prepared.err << prepared.out;
    for (const auto& [key, value] : c.mended) {
      EXPECT_EQ(json_value(prepared.out, key), value) << key;
    }
    const Facets out = read_facets(dir / "out.stl");
    if (c.volume > 0) {
      // Closed by exact coordinates, with every corner where one was read,
      // and the body's volume.
      EXPECT_TRUE(closed_and_consistent(out));
      double six_volume = 0;
      for (const Triangle& t : out) {
        six_volume += geometry::dot(t[0], geometry::cross(t[1], t[2]));
      }
      EXPECT_NEAR(six_volume / 6, c.volume, c.volume * 1e-9);
    }
    EXPECT_EQ(open_truth(out).t_junctions, 0);
    // Ready exactly when the check says so of what was written.
    const auto rechecked =
        testing_support::run_check(dir, {"--json", "--frequency", frequency, "out.stl"});
    EXPECT_EQ(json_value(rechecked.out, "ready"), json_value(prepared.out, "ready"));
    EXPECT_EQ(rechecked.status, c.status);
  }
}

// The summary's advice names what the preparation will do with a sliver
// that closes the surface, rather than telling the user to delete it.
TEST(TJunctionCommands, AdviceSaysTheSeamStaysClosed) {
  TempDir dir;
  dir.write("in.stl",
            converter_style(plus(split_top_cube(2, {1, 0, 2}), seam_facet(2, {1, 0, 2}))));
  const auto sliver = testing_support::run_check(dir, {"in.stl"});
  EXPECT_NE(sliver.out.find("1 degenerate facet ("), std::string::npos) << sliver.out;
  EXPECT_NE(sliver.out.find("1 of them closes the surface"), std::string::npos) << sliver.out;
  EXPECT_NE(sliver.out.find("stldeck-prepare swaps each with its neighbour"), std::string::npos);
  EXPECT_EQ(sliver.out.find("remove them"), std::string::npos) << sliver.out;
  dir.write("t.stl", converter_style(split_top_cube(2, {1, 0, 2})));
  const auto t = testing_support::run_check(dir, {"t.stl"});
  EXPECT_NE(t.out.find("1 T-junction (a vertex on an open side of another facet"),
            std::string::npos)
      << t.out;
  EXPECT_NE(t.out.find("stldeck-prepare splits those sides"), std::string::npos);
}

// --min-angle on both companions: the same needle is degenerate or not by
// the same limit, and a limit out of range is refused with status 2.
TEST(TJunctionCommands, MinAngleOptionOnBoth) {
  // A closed tetrahedron-like wedge whose one facet pair has 1-degree
  // corners: a cube whose top is split at a corner 0.035 along its front
  // side (about 1 degree at the far corner of the top facet beside it).
  const Point m{0.035, 0, 2};
  const Facets model = split_top_cube(2, m);
  TempDir dir;
  dir.write("in.stl", converter_style(model));
  struct Case {
    std::string_view limit;
    int check_status;
    std::string_view degenerate;
  };
  const Case cases[] = {
      {"0.5", 1, "0"},  // the T-junction alone
      {"1.5", 1, "1"},
      {"0", 1, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    const auto checked =
        testing_support::run_check(dir, {"--json", "--min-angle", std::string(c.limit), "in.stl"});
    EXPECT_EQ(checked.status, c.check_status);
    EXPECT_EQ(json_value(checked.out, "degenerate_facets"), c.degenerate);
    const auto prepared = testing_support::run_prepare(
        dir, {"--json", "--no-refine", "--frequency", "1", "--min-angle", std::string(c.limit),
              "in.stl", "out.stl"});
    const auto rechecked = testing_support::run_check(
        dir, {"--json", "--frequency", "1", "--min-angle", std::string(c.limit), "out.stl"});
    EXPECT_EQ(json_value(rechecked.out, "ready"), json_value(prepared.out, "ready"));
    EXPECT_EQ(json_value(prepared.out, "min_angle"), c.limit);
  }
  for (const std::string_view bad : {"60", "-1", "nan", "1deg", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(testing_support::run_check(dir, {"--min-angle", std::string(bad), "in.stl"}).status,
              2);
    EXPECT_EQ(
        testing_support::run_prepare(dir, {"--min-angle", std::string(bad), "in.stl", "never.stl"})
            .status,
        2);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "never.stl"));
}

// Prepare's "ready" is the check's verdict on OUT, over models whose mend
// succeeds, fails, or leaves facets a refinement changes.
TEST(TJunctionCommands, PrepareReadyIffCheckSaysReadyOnOut) {
  struct Case {
    std::string_view name;
    Facets model;
    std::vector<std::string> options;
  };
  std::vector<Case> cases;
  for (const CommandCase& c : command_cases()) {
    // As they are, and bisected to edges of a third of the cube's.
    const double edge = geometry::finite_box(c.model)->highest[0];
    cases.push_back({c.name, c.model, {"--no-refine", "--frequency", shortest(343 / (12 * edge))}});
    cases.push_back(
        {c.name, c.model, {"--refine-only", "--frequency", shortest(343 / (2 * edge))}});
  }
  // A facet 1e-9 high whose apex merges onto the middle of its base: with
  // the angle limit off only the merge makes it flat, and it is mended as
  // the flat seam facet it becomes, not written flat and called ready.
  {
    Facets thin = split_top_cube(2, {1, 0, 2});
    thin.push_back({Point{0, 0, 2}, Point{2, 0, 2}, Point{1, 0, 2 + 1e-9}});
    cases.push_back({"thin facet merged flat", thin, {"--no-refine", "--min-angle", "0"}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.options[0]);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    std::vector<std::string> arguments = {"--json"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {"in.stl", "out.stl"});
    const auto prepared = testing_support::run_prepare(dir, arguments);
    ASSERT_NE(prepared.status, 2) << prepared.err;
    std::vector<std::string> check_arguments = {"--json"};
    for (std::size_t i = 0; i + 1 < c.options.size(); ++i) {
      if (c.options[i] == "--frequency" || c.options[i] == "--min-angle") {
        check_arguments.insert(check_arguments.end(), {c.options[i], c.options[i + 1]});
      }
    }
    check_arguments.push_back("out.stl");
    const auto checked = testing_support::run_check(dir, check_arguments);
    EXPECT_EQ(json_value(prepared.out, "ready"), json_value(checked.out, "ready")) << checked.out;
    EXPECT_EQ(prepared.status, checked.status);
  }
}

// admesh counts the facets with one side unshared; on these models each
// open side belongs to one facet of its own, so its count is ours.
TEST(TJunctionCommands, OpenSidesAgreeWithAdmesh) {
  if (::access("/usr/bin/admesh", X_OK) != 0) GTEST_SKIP() << "admesh missing";
  for (const CommandCase& c : command_cases()) {
    if (c.degenerate != "0") continue;  // admesh counts degenerate facets in the edges
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.stl", converter_style(c.model));
    const auto theirs = testing_support::run_companion("/usr/bin/admesh", dir, {"in.stl"});
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    const std::string label = "Facets with 1 disconnected edge  :";
    const std::size_t at = theirs.out.find(label);
    ASSERT_NE(at, std::string::npos) << theirs.out;
    const std::size_t digits = theirs.out.find_first_not_of(' ', at + label.size());
    const std::string count = theirs.out.substr(digits, theirs.out.find(' ', digits) - digits);
    EXPECT_EQ(count, c.open_edges);
  }
}

}  // namespace
