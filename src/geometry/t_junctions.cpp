#include "geometry/t_junctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace geometry {
namespace {

struct Candidate {
  Point at;
  std::uint32_t vertex = 0;
};

// Where `p` lies against the side from a to b: the share of the way along
// it, and whether it is within `tolerance` of the inside of the side.
struct OnSide {
  bool inside = false;
  double along = 0.0;
};

OnSide on_side(const Point& a, const Point& b, const Point& p, double tolerance) {
  const Point side = difference(b, a);
  const Point to_p = difference(p, a);
  const double side_squared = dot(side, side);
  const double projection = dot(to_p, side);
  OnSide result;
  if (!(side_squared > 0.0) || !(projection > 0.0) || !(projection < side_squared)) return result;
  const double tolerance_squared = tolerance * tolerance;
  const Point from_b = difference(p, b);
  if (dot(to_p, to_p) <= tolerance_squared || dot(from_b, from_b) <= tolerance_squared) {
    return result;
  }
  // Distance from the line: |to_p x side| / |side|.
  const Point normal = cross(to_p, side);
  if (!(dot(normal, normal) <= tolerance_squared * side_squared)) return result;
  result.inside = true;
  result.along = projection / side_squared;
  return result;
}

}  // namespace

std::vector<TJunction> find_t_junctions(std::span<const Triangle> triangles,
                                        std::span<const VertexIds> vertex_ids,
                                        const EdgeTopology& topology, double tolerance) {
  std::vector<TJunction> found;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> open_sides;
  for (std::size_t f = 0; f < topology.sides.size(); ++f) {
    for (std::size_t k = 0; k < 3; ++k) {
      if (topology.sides[f][k] == SideKind::open) {
        open_sides.emplace_back(static_cast<std::uint32_t>(f), static_cast<std::uint8_t>(k));
      }
    }
  }
  if (open_sides.empty() || !(tolerance > 0.0)) return found;

  // The vertices at the ends of open sides, one entry each.
  std::vector<Candidate> candidates;
  candidates.reserve(2 * open_sides.size());
  for (const auto& [f, k] : open_sides) {
    for (const std::size_t corner : {std::size_t{k}, (std::size_t{k} + 1) % 3}) {
      candidates.push_back({triangles[f][corner], vertex_ids[f][corner]});
    }
  }
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.vertex < b.vertex; });
  candidates.erase(
      std::unique(candidates.begin(), candidates.end(),
                  [](const Candidate& a, const Candidate& b) { return a.vertex == b.vertex; }),
      candidates.end());
  std::array<std::vector<Candidate>, 3> by_axis;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    by_axis[axis] = candidates;
    std::sort(by_axis[axis].begin(), by_axis[axis].end(),
              [axis](const Candidate& a, const Candidate& b) { return a.at[axis] < b.at[axis]; });
  }
  candidates = {};

  for (const auto& [f, k] : open_sides) {
    const Point& a = triangles[f][k];
    const Point& b = triangles[f][(k + 1U) % 3];
    const std::uint32_t va = vertex_ids[f][k];
    const std::uint32_t vb = vertex_ids[f][(k + 1U) % 3];
    // The axis on which the fewest candidates lie within the side's reach.
    std::size_t best_axis = 0;
    std::pair<std::size_t, std::size_t> best_range{0, 0};
    std::size_t best_count = SIZE_MAX;
    for (std::size_t axis = 0; axis < 3; ++axis) {
      const double low = std::min(a[axis], b[axis]) - tolerance;
      const double high = std::max(a[axis], b[axis]) + tolerance;
      const std::vector<Candidate>& sorted = by_axis[axis];
      const auto from =
          std::lower_bound(sorted.begin(), sorted.end(), low,
                           [axis](const Candidate& c, double value) { return c.at[axis] < value; });
      const auto to =
          std::upper_bound(from, sorted.end(), high,
                           [axis](double value, const Candidate& c) { return value < c.at[axis]; });
      const auto count = static_cast<std::size_t>(to - from);
      if (count < best_count) {
        best_count = count;
        best_axis = axis;
        best_range = {static_cast<std::size_t>(from - sorted.begin()),
                      static_cast<std::size_t>(to - sorted.begin())};
      }
    }
    const std::size_t first_found = found.size();
    for (std::size_t i = best_range.first; i < best_range.second; ++i) {
      const Candidate& c = by_axis[best_axis][i];
      if (c.vertex == va || c.vertex == vb) continue;
      const OnSide on = on_side(a, b, c.at, tolerance);
      if (on.inside) found.push_back({f, k, c.vertex, on.along});
    }
    std::sort(found.begin() + static_cast<std::ptrdiff_t>(first_found), found.end(),
              [](const TJunction& x, const TJunction& y) { return x.along < y.along; });
  }
  return found;
}

}  // namespace geometry
