#include "geometry/gaps.h"

#include <CGAL/Bbox_3.h>
#include <CGAL/Box_intersection_d/Box_with_info_d.h>
#include <CGAL/box_intersection_d.h>

#include <algorithm>
#include <cmath>

namespace geometry {
namespace {

using EdgeBox = CGAL::Box_intersection_d::Box_with_info_d<double, 3, std::size_t,
                                                          CGAL::Box_intersection_d::ID_EXPLICIT>;

struct OpenEdge {
  std::uint32_t start = 0;  // vertex ids, in the direction its facet runs it
  std::uint32_t end = 0;
  Point from{};  // its facet's corners there
  Point to{};
  double reach = 0.0;  // the widest gap it may face across
};

// Infinite when a difference overflows (the three-argument hypot would
// give NaN for an infinite argument, which no comparison rejects).
double distance(const Point& a, const Point& b) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  if (!std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(dz)) return INFINITY;
  return std::hypot(dx, dy, dz);
}

CGAL::Bbox_3 box_about(const Point& p, double reach) {
  return {p[0] - reach, p[1] - reach, p[2] - reach, p[0] + reach, p[1] + reach, p[2] + reach};
}

}  // namespace

double suggested_weld(double width) {
  if (!(width > 0.0) || !std::isfinite(width)) return width;
  const double step = std::pow(10.0, std::floor(std::log10(width)) - 1);
  return (std::floor(width / step) + 1) * step;
}

Gaps find_gaps(std::span<const Triangle> triangles, std::span<const VertexIds> vertex_ids,
               const EdgeTopology& topology, double limit) {
  Gaps gaps;
  if (topology.open_edges == 0) return gaps;
  std::vector<OpenEdge> edges;
  for (std::size_t f = 0; f < topology.sides.size(); ++f) {
    for (std::size_t k = 0; k < 3; ++k) {
      if (topology.sides[f][k] != SideKind::open) continue;
      OpenEdge edge;
      edge.start = vertex_ids[f][k];
      edge.end = vertex_ids[f][(k + 1) % 3];
      edge.from = triangles[f][k];
      edge.to = triangles[f][(k + 1) % 3];
      edge.reach = std::min(limit, distance(edge.from, edge.to) / 2);
      if (edge.reach > 0.0 && std::isfinite(edge.reach)) edges.push_back(edge);
    }
  }
  std::vector<EdgeBox> starts;
  std::vector<EdgeBox> ends;
  starts.reserve(edges.size());
  ends.reserve(edges.size());
  for (std::size_t e = 0; e < edges.size(); ++e) {
    starts.emplace_back(box_about(edges[e].from, edges[e].reach), e);
    ends.emplace_back(box_about(edges[e].to, edges[e].reach), e);
  }
  constexpr double NONE = std::numeric_limits<double>::infinity();
  std::vector<double> narrowest(edges.size(), NONE);
  std::vector<std::size_t> partner(edges.size(), 0);
  // A start box of one edge meets an end box of another: a candidate.
  const auto try_pair = [&](const EdgeBox& at_start, const EdgeBox& at_end) {
    const std::size_t one = at_start.info();
    const std::size_t other = at_end.info();
    if (one == other) return;
    const OpenEdge& a = edges[one];
    const OpenEdge& b = edges[other];
    if (a.start == b.end && a.end == b.start) return;
    const double width = std::max(distance(a.from, b.to), distance(a.to, b.from));
    if (width <= std::min(a.reach, b.reach) && width < narrowest[one]) {
      narrowest[one] = width;
      partner[one] = other;
    }
  };
  CGAL::box_intersection_d(starts.begin(), starts.end(), ends.begin(), ends.end(), try_pair);
  for (std::size_t e = 0; e < edges.size(); ++e) {
    if (narrowest[e] == NONE) continue;
    ++gaps.edges;
    gaps.widest = std::max(gaps.widest, narrowest[e]);
    const OpenEdge& other = edges[partner[e]];
    gaps.joins.emplace_back(edges[e].start, other.end);
    gaps.joins.emplace_back(edges[e].end, other.start);
  }
  return gaps;
}

}  // namespace geometry
