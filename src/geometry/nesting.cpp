#include "geometry/nesting.h"

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Box_intersection_d/Box_with_info_d.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/box_intersection_d.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

namespace geometry {
namespace {

// Constructions in doubles, predicates exact: every decision below is an
// orientation sign or an intersection test, never a computed point.
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point3 = Kernel::Point_3;
using Segment3 = Kernel::Segment_3;
using Triangle3 = Kernel::Triangle_3;
using TriangleIterator = std::vector<Triangle3>::const_iterator;
using Primitive = CGAL::AABB_triangle_primitive<Kernel, TriangleIterator>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, Primitive>>;
using ShellBox = CGAL::Box_intersection_d::Box_with_info_d<double, 3, std::size_t,
                                                           CGAL::Box_intersection_d::ID_EXPLICIT>;

enum class Side : std::uint8_t { inside, outside, boundary, undecided };

// What a segment does at one facet it touches.
enum class Contact : std::uint8_t { crossing, boundary, degenerate, none };

Point3 point_of(const Point& p) { return {p[0], p[1], p[2]}; }

// `p` to `q` against a facet the segment touches; `q` lies outside the
// outer shell's box, so it is on no facet.
Contact classify_contact(const Triangle3& t, const Point3& p, const Point3& q) {
  const Point3& a = t[0];
  const Point3& b = t[1];
  const Point3& c = t[2];
  const CGAL::Orientation at_p = CGAL::orientation(a, b, c, p);
  const CGAL::Orientation at_q = CGAL::orientation(a, b, c, q);
  if (at_p == CGAL::COPLANAR) {
    // The segment lies in the facet's plane, or meets it at p alone: then
    // p, the only point of the segment in the plane, is on the facet.
    return at_q == CGAL::COPLANAR ? Contact::degenerate : Contact::boundary;
  }
  if (at_q == CGAL::COPLANAR || at_p == at_q) return Contact::degenerate;
  // The segment passes through the plane between its ends; the line
  // through p and q meets the facet's inside when it turns the same way
  // about all three sides.
  const CGAL::Orientation s1 = CGAL::orientation(p, q, a, b);
  const CGAL::Orientation s2 = CGAL::orientation(p, q, b, c);
  const CGAL::Orientation s3 = CGAL::orientation(p, q, c, a);
  if (s1 != CGAL::COPLANAR && s1 == s2 && s2 == s3) return Contact::crossing;
  const bool positive = s1 == CGAL::POSITIVE || s2 == CGAL::POSITIVE || s3 == CGAL::POSITIVE;
  const bool negative = s1 == CGAL::NEGATIVE || s2 == CGAL::NEGATIVE || s3 == CGAL::NEGATIVE;
  // Signs both ways: the line passes beside the facet. Otherwise it meets
  // a side or a corner.
  return positive && negative ? Contact::none : Contact::degenerate;
}

// Directions of no special slope, so that a ray along one rarely meets an
// edge of a model drawn on a grid; each is tried in turn until one meets
// no edge or corner.
constexpr std::array<std::array<double, 3>, 12> DIRECTIONS = {{
    {0.8273, 0.4719, 0.3047},
    {-0.3181, 0.8627, 0.3931},
    {0.2309, -0.4127, 0.8811},
    {-0.6823, -0.5471, 0.4851},
    {0.5939, 0.1471, -0.7909},
    {-0.1307, 0.9347, -0.3301},
    {0.9011, -0.2237, -0.3713},
    {-0.4421, -0.2719, -0.8549},
    {0.3571, 0.6841, -0.6359},
    {-0.8861, 0.3797, -0.2659},
    {0.0613, -0.9719, -0.2273},
    {0.6661, -0.6247, 0.4073},
}};

// The outer shell of a candidate pair: its facets, its box and its tree.
class OuterShell {
 public:
  OuterShell(std::vector<Triangle3> facets, const CGAL::Bbox_3& box)
      : facets_(std::move(facets)), box_(box), tree_(facets_.cbegin(), facets_.cend()) {}

  // Where `p` lies against the shell, by the parity of the facets a ray
  // from it crosses.
  Side side_of(const Point3& p) const {
    // Far enough to leave the box from anywhere in or near it.
    double reach = 1.0;
    for (int axis = 0; axis < 3; ++axis) {
      reach += 2.0 * (box_.max(axis) - box_.min(axis)) + std::fabs(p[axis] - box_.min(axis)) +
               std::fabs(p[axis] - box_.max(axis));
    }
    for (const std::array<double, 3>& d : DIRECTIONS) {
      const Point3 q(p.x() + d[0] * reach, p.y() + d[1] * reach, p.z() + d[2] * reach);
      if (!outside_box(q)) continue;
      const std::optional<std::size_t> crossings = count_crossings(Segment3(p, q));
      if (!crossings.has_value()) continue;
      if (*crossings == BOUNDARY) return Side::boundary;
      return *crossings % 2 == 1 ? Side::inside : Side::outside;
    }
    return Side::undecided;
  }

 private:
  static constexpr std::size_t BOUNDARY = static_cast<std::size_t>(-1);

  bool outside_box(const Point3& q) const {
    for (int axis = 0; axis < 3; ++axis) {
      if (q[axis] < box_.min(axis) || q[axis] > box_.max(axis)) return true;
    }
    return false;
  }

  // The facets crossed; BOUNDARY when p is on a facet; none when the
  // segment meets an edge or a corner, or lies in a facet's plane.
  std::optional<std::size_t> count_crossings(const Segment3& segment) const {
    std::vector<Tree::Primitive_id> touched;
    tree_.all_intersected_primitives(segment, std::back_inserter(touched));
    std::size_t crossings = 0;
    bool degenerate = false;
    for (const Tree::Primitive_id& id : touched) {
      switch (classify_contact(*id, segment.source(), segment.target())) {
        case Contact::boundary:
          return BOUNDARY;
        case Contact::crossing:
          ++crossings;
          break;
        case Contact::degenerate:
          degenerate = true;
          break;
        case Contact::none:
          break;
      }
    }
    if (degenerate) return std::nullopt;
    return crossings;
  }

  std::vector<Triangle3> facets_;
  CGAL::Bbox_3 box_;
  Tree tree_;
};

// The points of an inner shell tried against an outer one, in turn: its
// vertices first, then the centres of its facets (a shell that lies on the
// outer one at every vertex may still leave it between them).
constexpr std::size_t POINTS_TRIED = 8;

bool encloses(const OuterShell& outer, const std::vector<Point3>& inner_points) {
  for (const Point3& p : inner_points) {
    switch (outer.side_of(p)) {
      case Side::inside:
        return true;
      case Side::outside:
        return false;
      case Side::boundary:
      case Side::undecided:
        break;
    }
  }
  return false;
}

}  // namespace

ShellFacing facing_of(const Shell& shell, std::uint32_t depth) {
  if (!shell.closed || depth == NO_DEPTH) return ShellFacing::not_closed;
  // The sign found on scaled coordinates: it holds where the volume itself
  // underflows or overflows.
  if (shell.orientation == 0) return ShellFacing::flat;
  const bool cavity = depth % 2 == 1;
  if (cavity) {
    return shell.orientation < 0 ? ShellFacing::agrees : ShellFacing::cavity_pointing_outward;
  }
  return shell.orientation > 0 ? ShellFacing::agrees : ShellFacing::body_inside_out;
}

std::vector<std::uint32_t> nest_shells(std::span<const Triangle> triangles,
                                       const VertexMerge* merge, const EdgeTopology& topology,
                                       std::span<const Shell> shells) {
  std::vector<std::uint32_t> depth(shells.size(), NO_DEPTH);
  std::size_t closed = 0;
  for (std::size_t s = 0; s < shells.size(); ++s) {
    if (shells[s].closed) {
      depth[s] = 0;
      ++closed;
    }
  }
  if (closed < 2) return depth;

  const auto position = [&](std::size_t f, std::size_t k) -> const Point& {
    return merge == nullptr ? triangles[f][k]
                            : vertex_position(triangles, *merge, merge->vertex_ids[f][k]);
  };
  // The boxes of the closed shells.
  std::vector<CGAL::Bbox_3> boxes(shells.size());
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s == NO_SHELL || !shells[s].closed) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      const Point& p = position(f, k);
      boxes[s] += CGAL::Bbox_3(p[0], p[1], p[2], p[0], p[1], p[2]);
    }
  }

  // Pairs of closed shells whose boxes meet; a shell can enclose another
  // only when its box holds the other's.
  std::vector<ShellBox> shell_boxes;
  for (std::size_t s = 0; s < shells.size(); ++s) {
    if (shells[s].closed) shell_boxes.emplace_back(boxes[s], s);
  }
  const auto holds = [&](std::size_t outer, std::size_t inner) {
    const CGAL::Bbox_3& o = boxes[outer];
    const CGAL::Bbox_3& i = boxes[inner];
    for (int axis = 0; axis < 3; ++axis) {
      if (i.min(axis) < o.min(axis) || i.max(axis) > o.max(axis)) return false;
    }
    return true;
  };
  std::vector<std::pair<std::size_t, std::size_t>> candidates;  // (outer, inner)
  CGAL::box_self_intersection_d(shell_boxes.begin(), shell_boxes.end(),
                                [&](const ShellBox& x, const ShellBox& y) {
                                  const std::size_t a = x.info();
                                  const std::size_t b = y.info();
                                  if (holds(a, b)) candidates.emplace_back(a, b);
                                  if (holds(b, a)) candidates.emplace_back(b, a);
                                });
  if (candidates.empty()) return depth;
  std::sort(candidates.begin(), candidates.end());

  // A few points of each inner shell: its first distinct vertices, then
  // the centres of its first facets, for shells that lie on another at
  // every vertex tried. Only shells some other's box holds need them, so
  // a model of many small separate bodies keeps none.
  std::vector<std::uint8_t> is_inner(shells.size(), 0);
  for (const auto& [outer, inner] : candidates) is_inner[inner] = 1;
  std::vector<std::vector<Point3>> points(shells.size());
  std::vector<std::size_t> centres(shells.size(), 0);
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s == NO_SHELL || is_inner[s] == 0) continue;
    std::vector<Point3>& tried = points[s];
    for (std::size_t k = 0; k < 3 && tried.size() < POINTS_TRIED; ++k) {
      const Point3 candidate = point_of(position(f, k));
      if (std::find(tried.begin(), tried.end(), candidate) == tried.end()) {
        tried.push_back(candidate);
      }
    }
  }
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s == NO_SHELL || is_inner[s] == 0 || centres[s] == POINTS_TRIED) continue;
    ++centres[s];
    const Point &a = position(f, 0), &b = position(f, 1), &c = position(f, 2);
    points[s].emplace_back((a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3,
                           (a[2] + b[2] + c[2]) / 3);
  }

  // The facets of each outer shell, gathered once for all its candidates.
  std::vector<std::uint8_t> is_outer(shells.size(), 0);
  for (const auto& [outer, inner] : candidates) is_outer[outer] = 1;
  std::vector<std::vector<std::uint32_t>> facets_of(shells.size());
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s != NO_SHELL && is_outer[s] != 0) facets_of[s].push_back(static_cast<std::uint32_t>(f));
  }

  for (std::size_t first = 0; first < candidates.size();) {
    const std::size_t outer_shell = candidates[first].first;
    std::size_t last = first;
    while (last < candidates.size() && candidates[last].first == outer_shell) ++last;
    std::vector<Triangle3> facets;
    facets.reserve(facets_of[outer_shell].size());
    for (const std::uint32_t f : facets_of[outer_shell]) {
      Triangle3 t(point_of(position(f, 0)), point_of(position(f, 1)), point_of(position(f, 2)));
      if (!t.is_degenerate()) facets.push_back(t);
    }
    std::vector<std::uint32_t>().swap(facets_of[outer_shell]);
    const OuterShell outer(std::move(facets), boxes[outer_shell]);
    for (std::size_t i = first; i < last; ++i) {
      const std::size_t inner = candidates[i].second;
      if (encloses(outer, points[inner])) ++depth[inner];
    }
    first = last;
  }
  return depth;
}

}  // namespace geometry
