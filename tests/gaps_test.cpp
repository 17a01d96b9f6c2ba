// Gaps between open edges: cracks built to a known width are found and
// measured, holes never count as gaps, and the weld distance suggested
// for a width always covers it.
#include "geometry/gaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "box_facets.h"
#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"
#include "geometry/vertex_merge.h"

namespace {

using geometry::Point;
using geometry::Triangle;

// A box of edge `size` from `low` whose top face (its two facets, z high)
// is lifted by lift[corner] at each of its four corners (numbered x + 2y):
// a crack all round between the top and the sides, as wide at each corner
// as its lift, as the subtraction of the two heights gives it.
std::vector<Triangle> cracked_box(Point low, double size, std::array<double, 4> lift) {
  std::vector<Triangle> facets;
  for (std::size_t f = 0; f < testing_support::BOX_FACETS.size(); ++f) {
    const auto& numbers = testing_support::BOX_FACETS[f];
    // Facets 2 and 3 are the top face (corners 4 to 7).
    const bool top = f == 2 || f == 3;
    Triangle t{};
    for (std::size_t k = 0; k < 3; ++k) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        t[k][axis] = low[axis] + (((numbers[k] >> axis) & 1) != 0 ? size : 0.0);
      }
      if (top) t[k][2] += lift[static_cast<std::size_t>(numbers[k] & 3)];
    }
    facets.push_back(t);
  }
  return facets;
}

geometry::Gaps gaps_of(const std::vector<Triangle>& soup, double limit = INFINITY) {
  const geometry::VertexMerge merge = geometry::merge_vertices(soup, geometry::finite_box(soup));
  std::vector<geometry::FacetRole> roles = geometry::classify_facets(soup, merge.vertex_ids);
  const geometry::EdgeTopology topology = geometry::analyse_edges(
      merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
  return geometry::find_gaps(soup, merge.vertex_ids, topology, limit);
}

TEST(Gaps, CracksOfAKnownWidthAndHolesThatAreNone) {
  // 1e-7 of a 2 m box's diagonal: far beyond the merge tolerance.
  const double crack = 1e-7 * 2 * std::sqrt(3.0);
  const Point map = {6.5e5, 5.3e6, 17.0};
  struct Case {
    const char* name;
    Point low;
    std::array<double, 4> lift;
    double limit;
    std::int64_t gap_edges;
  };
  const Case cases[] = {
      {"even crack", {0, 0, 0}, {crack, crack, crack, crack}, INFINITY, 8},
      {"uneven crack", {0, 0, 0}, {crack, crack / 3, crack / 2, crack / 5}, INFINITY, 8},
      {"at map coordinates", map, {crack, crack / 3, crack / 2, crack / 5}, INFINITY, 8},
      {"beyond the limit", {0, 0, 0}, {crack, crack, crack, crack}, crack / 2, 0},
      // Wider than half an edge: the rims of a hole, not a crack.
      {"too wide to be a crack", {0, 0, 0}, {1.5, 1.5, 1.5, 1.5}, INFINITY, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Triangle> facets = cracked_box(c.low, 2.0, c.lift);
    const geometry::Gaps gaps = gaps_of(facets, c.limit);
    EXPECT_EQ(gaps.edges, c.gap_edges);
    if (c.gap_edges == 0) continue;
    // The widest crack: the largest lift as the coordinates hold it.
    double widest = 0;
    for (std::size_t corner = 0; corner < 4; ++corner) {
      const double top = c.low[2] + 2.0;
      widest = std::max(widest, (top + c.lift[corner]) - top);
    }
    EXPECT_EQ(gaps.widest, widest);
    EXPECT_EQ(gaps.joins.size(), 2 * static_cast<std::size_t>(gaps.edges));
  }
}

TEST(Gaps, AMissingFacetOrFaceIsAHoleWithoutGaps) {
  const std::vector<Triangle> closed = cracked_box({0, 0, 0}, 2.0, {0, 0, 0, 0});
  EXPECT_EQ(gaps_of(closed).edges, 0);
  for (const std::ptrdiff_t missing : {1, 2}) {
    SCOPED_TRACE(missing);
    // One facet, or both facets of the top face.
    std::vector<Triangle> holed = closed;
    holed.erase(holed.begin() + 2, holed.begin() + 2 + missing);
    EXPECT_EQ(gaps_of(holed).edges, 0);
  }
}

TEST(Gaps, SuggestedWeldCoversTheWidthAsWritten) {
  for (const double width : {3.4641016151377547e-07, 1e-7, 9.99e-7, 0.5, 123.0, 4e-300}) {
    SCOPED_TRACE(width);
    const double weld = geometry::suggested_weld(width);
    EXPECT_GT(weld, width);
    EXPECT_LE(weld, width * 1.2);
    // Written with six significant digits and read back, still above.
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", weld);
    EXPECT_GT(std::strtod(text, nullptr), width) << text;
  }
}

}  // namespace
