#include "prepare/mend.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <span>
#include <unordered_map>
#include <utility>

#include "geometry/edge_topology.h"
#include "geometry/gaps.h"
#include "geometry/nesting.h"
#include "geometry/shells.h"
#include "geometry/t_junctions.h"
#include "geometry/vertex_merge.h"

namespace prepare {
namespace {

constexpr std::uint8_t UNSEEN = 2;

// Per member facet, whether to flip it so that its piece of surface is
// consistent: facets are reached from the piece's first facet through
// edges used by exactly two; crossing an edge the two run the same way
// changes the side, crossing one run oppositely keeps it. The side held by
// fewer facets is flipped (on a tie, the side without the first facet).
// On a surface that cannot be oriented some edge stays run the same way.
std::vector<std::uint8_t> consistent_flips(const geometry::EdgeTopology& topology,
                                           std::span<const geometry::FacetRole> roles) {
  const std::size_t count = roles.size();
  std::vector<std::uint8_t> flip(count, UNSEEN);
  std::vector<std::uint32_t> piece;
  for (std::size_t first = 0; first < count; ++first) {
    if (roles[first] != geometry::FacetRole::member || flip[first] != UNSEEN) continue;
    piece.clear();
    piece.push_back(static_cast<std::uint32_t>(first));
    flip[first] = 0;
    std::size_t flipped = 0;
    for (std::size_t next = 0; next < piece.size(); ++next) {
      const std::uint32_t facet = piece[next];
      for (std::size_t side = 0; side < 3; ++side) {
        const std::uint32_t other = topology.neighbours[facet][side];
        if (other == geometry::NO_FACET || flip[other] != UNSEEN) continue;
        const bool same_way = topology.sides[facet][side] == geometry::SideKind::misoriented;
        flip[other] = static_cast<std::uint8_t>(flip[facet] ^ (same_way ? 1 : 0));
        flipped += flip[other];
        piece.push_back(other);
      }
    }
    if (2 * flipped > piece.size()) {
      for (const std::uint32_t facet : piece) flip[facet] ^= 1;
    }
  }
  for (std::uint8_t& f : flip) {
    if (f == UNSEEN) f = 0;
  }
  return flip;
}

// Joins the open edges that face another across a gap at most `distance`
// wide: every corner of a group of joined vertices takes the position of
// the group's first vertex. Returns the gaps found.
geometry::Gaps weld_gaps(std::vector<geometry::Triangle>& facets, double distance) {
  const geometry::VertexMerge merge =
      geometry::merge_vertices(facets, geometry::finite_box(facets));
  std::vector<geometry::FacetRole> roles = geometry::classify_facets(facets, merge.vertex_ids);
  const geometry::EdgeTopology topology = geometry::analyse_edges(
      merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
  geometry::Gaps gaps = geometry::find_gaps(facets, merge.vertex_ids, topology, distance);
  if (gaps.joins.empty()) return gaps;
  std::vector<std::uint32_t> group(merge.position_corner.size());
  for (std::uint32_t v = 0; v < group.size(); ++v) group[v] = v;
  const auto root = [&group](std::uint32_t v) {
    while (group[v] != v) v = group[v] = group[group[v]];
    return v;
  };
  for (const auto& [a, b] : gaps.joins) {
    const std::uint32_t ra = root(a);
    const std::uint32_t rb = root(b);
    if (ra != rb) group[std::max(ra, rb)] = std::min(ra, rb);
  }
  // Positions first, then corners: a corner a position is taken from may
  // itself move.
  std::vector<std::pair<std::size_t, geometry::Point>> moves;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] == geometry::FacetRole::nonfinite) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      const std::uint32_t v = merge.vertex_ids[f][k];
      const std::uint32_t r = root(v);
      if (r != v) moves.emplace_back(3 * f + k, geometry::vertex_position(facets, merge, r));
    }
  }
  for (const auto& [corner, point] : moves) facets[corner / 3][corner % 3] = point;
  return gaps;
}

// Every corner of a finite facet takes its vertex's position. The corner a
// vertex takes its position from already holds it, so this can be done in
// place.
void move_to_vertices(std::vector<geometry::Triangle>& facets, const geometry::VertexMerge& merge) {
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (merge.vertex_ids[f][0] == geometry::NO_VERTEX) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      facets[f][k] = geometry::vertex_position(facets, merge, merge.vertex_ids[f][k]);
    }
  }
}

// Splits each facet's first side with T-junctions on it at their vertices:
// the facet becomes a fan from its opposite corner, turned as it was, in
// its place in file order. Returns the vertices split at.
std::int64_t split_t_junctions(std::vector<geometry::Triangle>& facets,
                               std::vector<std::int64_t>& lines, const geometry::VertexMerge& merge,
                               std::span<const geometry::TJunction> junctions) {
  std::vector<geometry::Triangle> split;
  std::vector<std::int64_t> split_lines;
  split.reserve(facets.size() + junctions.size());
  split_lines.reserve(facets.size() + junctions.size());
  std::int64_t vertices = 0;
  std::size_t next = 0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (next == junctions.size() || junctions[next].facet != f) {
      split.push_back(facets[f]);
      split_lines.push_back(lines[f]);
      continue;
    }
    const std::size_t side = junctions[next].side;
    const geometry::Triangle& t = facets[f];
    const geometry::Point& apex = t[(side + 2) % 3];
    geometry::Point from = t[side];
    for (; next < junctions.size() && junctions[next].facet == f; ++next) {
      if (junctions[next].side != side) continue;  // the next round splits it
      const geometry::Point& at = geometry::vertex_position(facets, merge, junctions[next].vertex);
      split.push_back({from, at, apex});
      split_lines.push_back(lines[f]);
      from = at;
      ++vertices;
    }
    split.push_back({from, t[(side + 1) % 3], apex});
    split_lines.push_back(lines[f]);
  }
  facets = std::move(split);
  lines = std::move(split_lines);
  return vertices;
}

// The member and degenerate facets as vertex ids, mended in place by
// swapping a degenerate facet with a neighbour or collapsing its short
// side. A facet removed by a collapse is marked dead.
class DegenerateMend {
 public:
  DegenerateMend(std::span<const geometry::Triangle> facets, const geometry::VertexMerge& merge,
                 std::span<const geometry::FacetRole> roles, double min_angle_degrees)
      : limit_(min_angle_degrees),
        ids_(merge.vertex_ids),
        live_(roles.size(), 0),
        where_(merge.position_corner.size()),
        around_(merge.position_corner.size()) {
    for (std::uint32_t v = 0; v < where_.size(); ++v) {
      where_[v] = geometry::vertex_position(facets, merge, v);
    }
    for (std::uint32_t f = 0; f < roles.size(); ++f) {
      const geometry::VertexIds& ids = ids_[f];
      if ((roles[f] != geometry::FacetRole::member &&
           roles[f] != geometry::FacetRole::degenerate) ||
          !distinct(ids)) {
        continue;
      }
      live_[f] = 1;
      add_sides(f);
      for (const std::uint32_t v : ids) around_[v].push_back(f);
    }
  }

  // Mends facet f if it is degenerate and can be mended. Returns 1 for a
  // swap, 2 for a collapse, 0 otherwise.
  int mend(std::uint32_t f) {
    if (live_[f] == 0 || !limit_.degenerate(triangle(ids_[f]))) return 0;
    if (swap_longest_side(f)) return 1;
    if (collapse_shortest_side(f)) return 2;
    return 0;
  }

  bool live(std::uint32_t f) const { return live_[f] != 0; }
  geometry::Triangle triangle_of(std::uint32_t f) const { return triangle(ids_[f]); }

 private:
  static constexpr std::uint32_t MANY = geometry::NO_FACET - 1;

  static bool distinct(const geometry::VertexIds& ids) {
    return ids[0] != ids[1] && ids[1] != ids[2] && ids[0] != ids[2];
  }
  static std::uint64_t key(std::uint32_t from, std::uint32_t to) {
    return std::uint64_t{from} << 32 | to;
  }
  geometry::Triangle triangle(const geometry::VertexIds& ids) const {
    return {where_[ids[0]], where_[ids[1]], where_[ids[2]]};
  }
  geometry::Point normal(const geometry::VertexIds& ids) const {
    const geometry::Triangle t = triangle(ids);
    return geometry::cross(geometry::difference(t[1], t[0]), geometry::difference(t[2], t[0]));
  }
  // A facet that may take the place of others: three vertices, a sound
  // shape, and turned as `normal` is.
  bool sound(const geometry::VertexIds& ids, const geometry::Point& turned_as) const {
    return distinct(ids) && !limit_.degenerate(triangle(ids)) &&
           geometry::dot(normal(ids), turned_as) > 0.0;
  }
  std::uint32_t facet_on(std::uint32_t from, std::uint32_t to) const {
    const auto it = side_facet_.find(key(from, to));
    return it == side_facet_.end() ? geometry::NO_FACET : it->second;
  }
  void add_sides(std::uint32_t f) {
    const geometry::VertexIds& ids = ids_[f];
    for (std::size_t k = 0; k < 3; ++k) {
      const auto [it, fresh] = side_facet_.try_emplace(key(ids[k], ids[(k + 1) % 3]), f);
      if (!fresh) it->second = MANY;
    }
  }
  void remove_sides(std::uint32_t f) {
    const geometry::VertexIds& ids = ids_[f];
    for (std::size_t k = 0; k < 3; ++k) {
      const auto it = side_facet_.find(key(ids[k], ids[(k + 1) % 3]));
      if (it != side_facet_.end() && it->second == f) side_facet_.erase(it);
    }
  }
  // The live facets with vertex v (the lists may hold stale entries).
  std::vector<std::uint32_t> facets_around(std::uint32_t v) const {
    std::vector<std::uint32_t> found;
    for (const std::uint32_t f : around_[v]) {
      const geometry::VertexIds& ids = ids_[f];
      if (live_[f] != 0 && (ids[0] == v || ids[1] == v || ids[2] == v)) found.push_back(f);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
  }

  // f = (p, q, r) with p -> q its longest side, and n = (q, p, d) across
  // it become (r, p, d) and (r, d, q): the same outline, the diagonal r-d
  // instead of p-q. With r near the side p-q they are n cut at r.
  bool swap_longest_side(std::uint32_t f) {
    const geometry::LongestSide longest = geometry::longest_side_of(triangle(ids_[f]));
    const std::uint32_t p = ids_[f][longest.side];
    const std::uint32_t q = ids_[f][(longest.side + 1) % 3];
    const std::uint32_t r = ids_[f][(longest.side + 2) % 3];
    const std::uint32_t n = facet_on(q, p);
    if (n == geometry::NO_FACET || n == MANY || n == f || facet_on(p, q) != f) return false;
    std::uint32_t d = geometry::NO_VERTEX;
    for (const std::uint32_t v : ids_[n]) {
      if (v != p && v != q) d = v;
    }
    if (d == geometry::NO_VERTEX || d == r || facet_on(r, d) != geometry::NO_FACET ||
        facet_on(d, r) != geometry::NO_FACET) {
      return false;
    }
    const geometry::VertexIds first = {r, p, d};
    const geometry::VertexIds second = {r, d, q};
    const geometry::Point turned_as = normal(ids_[n]);
    if (!sound(first, turned_as) || !sound(second, turned_as)) return false;
    remove_sides(f);
    remove_sides(n);
    ids_[f] = first;
    ids_[n] = second;
    add_sides(f);
    add_sides(n);
    around_[d].push_back(f);
    around_[r].push_back(n);
    return true;
  }

  // A needle's short side u-v, under a tenth of its longest, becomes one
  // vertex at u (or else at v): the facets on the side vanish, and their
  // other two sides each become one edge. Only when exactly the facets on
  // the side have both ends (so no edge gains a third facet) and every
  // facet that moves stays sound and turned as it was.
  bool collapse_shortest_side(std::uint32_t f) {
    const geometry::Triangle t = triangle(ids_[f]);
    std::array<double, 3> squares{};
    for (std::size_t k = 0; k < 3; ++k) {
      const geometry::Point side = geometry::difference(t[(k + 1) % 3], t[k]);
      squares[k] = geometry::dot(side, side);
    }
    std::size_t shortest = 0;
    for (std::size_t k = 1; k < 3; ++k) {
      if (squares[k] < squares[shortest]) shortest = k;
    }
    const double longest = std::max({squares[0], squares[1], squares[2]});
    if (!(squares[shortest] <= 0.01 * longest)) return false;
    const std::uint32_t u = ids_[f][shortest];
    const std::uint32_t v = ids_[f][(shortest + 1) % 3];
    // The end whose facets lie in a plane through the other (a vertex
    // inside a flat face, say) moves first: the surface stays where it was.
    if (moved_off_surface(v, u) <= moved_off_surface(u, v)) return collapse(v, u) || collapse(u, v);
    return collapse(u, v) || collapse(v, u);
  }

  // How far the position of `kept` lies from the planes of the facets
  // around `gone` that do not have `kept`: how far the surface moves if
  // `gone` goes there.
  double moved_off_surface(std::uint32_t gone, std::uint32_t kept) const {
    double farthest = 0.0;
    for (const std::uint32_t g : facets_around(gone)) {
      const geometry::VertexIds& ids = ids_[g];
      if (ids[0] == kept || ids[1] == kept || ids[2] == kept) continue;
      const geometry::Point n = normal(ids);
      const double size = geometry::length(n);
      if (!(size > 0.0)) continue;
      const double off = geometry::dot(n, geometry::difference(where_[kept], where_[ids[0]]));
      farthest = std::max(farthest, std::fabs(off) / size);
    }
    return farthest;
  }

  bool collapse(std::uint32_t gone, std::uint32_t kept) {
    const std::vector<std::uint32_t> of_gone = facets_around(gone);
    const std::vector<std::uint32_t> of_kept = facets_around(kept);
    std::vector<std::uint32_t> dying;
    std::vector<std::uint32_t> apexes;
    std::vector<std::uint32_t> moving;
    for (const std::uint32_t g : of_gone) {
      const geometry::VertexIds& ids = ids_[g];
      if (ids[0] == kept || ids[1] == kept || ids[2] == kept) {
        dying.push_back(g);
        for (const std::uint32_t w : ids) {
          if (w != kept && w != gone) apexes.push_back(w);
        }
      } else {
        moving.push_back(g);
      }
    }
    if (dying.empty() || dying.size() > 2) return false;
    // The neighbours common to both ends must be the apexes of the facets
    // that vanish, or an edge would be used three times.
    std::vector<std::uint32_t> next_to_gone;
    std::vector<std::uint32_t> next_to_kept;
    for (const auto& [list, next] :
         {std::pair{&of_gone, &next_to_gone}, {&of_kept, &next_to_kept}}) {
      for (const std::uint32_t g : *list) {
        for (const std::uint32_t w : ids_[g]) {
          if (w != gone && w != kept) next->push_back(w);
        }
      }
      std::sort(next->begin(), next->end());
      next->erase(std::unique(next->begin(), next->end()), next->end());
    }
    std::vector<std::uint32_t> common;
    std::set_intersection(next_to_gone.begin(), next_to_gone.end(), next_to_kept.begin(),
                          next_to_kept.end(), std::back_inserter(common));
    std::sort(apexes.begin(), apexes.end());
    apexes.erase(std::unique(apexes.begin(), apexes.end()), apexes.end());
    if (common != apexes) return false;
    for (const std::uint32_t g : moving) {
      geometry::VertexIds moved = ids_[g];
      for (std::uint32_t& w : moved) {
        if (w == gone) w = kept;
      }
      if (!sound(moved, normal(ids_[g]))) return false;
    }
    for (const std::uint32_t g : dying) {
      remove_sides(g);
      live_[g] = 0;
    }
    for (const std::uint32_t g : moving) {
      remove_sides(g);
      for (std::uint32_t& w : ids_[g]) {
        if (w == gone) w = kept;
      }
    }
    for (const std::uint32_t g : moving) {
      add_sides(g);
      around_[kept].push_back(g);
    }
    around_[gone].clear();
    return true;
  }

  geometry::ShapeLimit limit_;
  std::vector<geometry::VertexIds> ids_;
  std::vector<std::uint8_t> live_;
  std::vector<geometry::Point> where_;
  std::vector<std::vector<std::uint32_t>> around_;
  std::unordered_map<std::uint64_t, std::uint32_t> side_facet_;
};

}  // namespace

MendedModel mend_model(std::vector<geometry::Triangle> facets, std::vector<std::int64_t> lines,
                       double weld_distance, double min_angle_degrees) {
  MendedModel mended;
  if (weld_distance > 0.0) {
    const geometry::Gaps welded = weld_gaps(facets, weld_distance);
    mended.welded_edges = welded.edges;
    mended.widest_gap_closed = welded.widest;
  }
  // The box, and so the tolerance, of the facets as read (and welded): the
  // mends below only add corners where vertices already are.
  const std::optional<geometry::Box> box = geometry::finite_box(facets);
  geometry::VertexMerge merge = geometry::merge_vertices(facets, box);
  mended.merged_corners = merge.near_coincident_corners;
  mended.merge_tolerance = merge.tolerance;
  move_to_vertices(facets, merge);
  const double t_tolerance = std::max(merge.tolerance, weld_distance);

  // Degenerate facets, mended with their neighbours; what cannot be mended
  // is dropped below with the rest. First those as read (a sliver closing a
  // T-junction is swapped with the facet it splits), then any the splitting
  // of T-junctions left.
  const auto mend_degenerate = [&] {
    std::vector<geometry::FacetRole> roles =
        geometry::classify_facets(facets, merge.vertex_ids, min_angle_degrees);
    std::vector<std::uint32_t> degenerate;
    for (std::uint32_t f = 0; f < roles.size(); ++f) {
      const geometry::VertexIds& ids = merge.vertex_ids[f];
      if (roles[f] == geometry::FacetRole::degenerate && ids[0] != ids[1] && ids[1] != ids[2] &&
          ids[0] != ids[2]) {
        degenerate.push_back(f);
      }
    }
    if (!degenerate.empty()) {
      // Repeated facets take no part (the edge analysis marks them).
      static_cast<void>(geometry::analyse_edges(
          merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size())));
      DegenerateMend mend(facets, merge, roles, min_angle_degrees);
      // A facet that could not be mended may be once a neighbour is.
      constexpr int PASSES = 4;
      bool progress = true;
      for (int pass = 0; pass < PASSES && progress; ++pass) {
        progress = false;
        for (const std::uint32_t f : degenerate) {
          const int done = mend.mend(f);
          if (done == 1) ++mended.slivers_swapped;
          if (done == 2) ++mended.needles_collapsed;
          progress = progress || done != 0;
        }
      }
      std::size_t kept = 0;
      for (std::uint32_t f = 0; f < facets.size(); ++f) {
        const bool member_or_degenerate =
            roles[f] == geometry::FacetRole::member || roles[f] == geometry::FacetRole::degenerate;
        if (member_or_degenerate && mend.live(f)) {
          facets[kept] = mend.triangle_of(f);
        } else if (member_or_degenerate && merge.vertex_ids[f][0] != merge.vertex_ids[f][1] &&
                   merge.vertex_ids[f][1] != merge.vertex_ids[f][2] &&
                   merge.vertex_ids[f][0] != merge.vertex_ids[f][2]) {
          continue;  // gone in a collapse
        } else {
          facets[kept] = facets[f];
        }
        lines[kept] = lines[f];
        ++kept;
      }
      facets.resize(kept);
      lines.resize(kept);
      merge = geometry::merge_vertices(facets, box);
      move_to_vertices(facets, merge);
    }
  };
  mend_degenerate();

  // T-junctions, a side of a facet at a time: a facet with vertices on two
  // of its sides is split again in the next round.
  constexpr int T_JUNCTION_ROUNDS = 4;
  std::int64_t split_at = 0;
  for (int round = 0; round < T_JUNCTION_ROUNDS; ++round) {
    std::vector<geometry::FacetRole> roles =
        geometry::classify_facets(facets, merge.vertex_ids, min_angle_degrees);
    const geometry::EdgeTopology topology = geometry::analyse_edges(
        merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
    const std::vector<geometry::TJunction> junctions =
        geometry::find_t_junctions(facets, merge.vertex_ids, topology, t_tolerance);
    if (junctions.empty()) break;
    split_at += split_t_junctions(facets, lines, merge, junctions);
    merge = geometry::merge_vertices(facets, box);
    move_to_vertices(facets, merge);
  }
  mended.t_junctions_closed = split_at;
  if (split_at > 0) mend_degenerate();

  std::vector<geometry::FacetRole> roles =
      geometry::classify_facets(facets, merge.vertex_ids, min_angle_degrees);
  const auto vertex_count = static_cast<std::uint32_t>(merge.position_corner.size());

  std::vector<std::uint8_t> flip;
  {
    const geometry::EdgeTopology topology =
        geometry::analyse_edges(merge.vertex_ids, roles, vertex_count, geometry::Neighbours::list);
    flip = consistent_flips(topology, roles);
  }
  for (const geometry::FacetRole role : roles) {
    if (role == geometry::FacetRole::nonfinite) ++mended.dropped_nonfinite;
    if (role == geometry::FacetRole::degenerate) ++mended.dropped_degenerate;
    if (role == geometry::FacetRole::repeated) ++mended.dropped_duplicate;
  }

  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] == geometry::FacetRole::member && flip[f] != 0) {
      geometry::flip_facet(facets[f], merge.vertex_ids[f]);
    }
  }

  // Shells, now that each piece is consistent: a closed one that faces the
  // other way than its depth asks is turned (a body outward, a cavity into
  // its void). The corners sit at their vertices' positions by now.
  const geometry::EdgeTopology topology =
      geometry::analyse_edges(merge.vertex_ids, roles, vertex_count);
  const std::vector<geometry::Shell> shells = geometry::measure_shells(facets, topology);
  const std::vector<std::uint32_t> depths =
      geometry::nest_shells(facets, nullptr, topology, shells);
  mended.shells = static_cast<std::int64_t>(shells.size());
  std::vector<std::uint8_t> turn(shells.size(), 0);
  for (std::size_t s = 0; s < shells.size(); ++s) {
    const geometry::ShellFacing facing = geometry::facing_of(shells[s], depths[s]);
    if (shells[s].closed && depths[s] % 2 == 1) ++mended.cavities;
    if (facing == geometry::ShellFacing::body_inside_out) {
      turn[s] = 1;
      ++mended.shells_turned_outward;
    } else if (facing == geometry::ShellFacing::cavity_pointing_outward) {
      turn[s] = 1;
      ++mended.cavities_turned_inward;
    }
  }

  // The kept facets, moved to the front in file order.
  std::size_t kept = 0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] != geometry::FacetRole::member) continue;
    const std::uint32_t shell = topology.shell_of_facet[f];
    if (turn[shell] != 0) {
      geometry::flip_facet(facets[f], merge.vertex_ids[f]);
      flip[f] ^= 1;
    }
    mended.flipped_facets += flip[f];
    facets[kept] = facets[f];
    lines[kept] = lines[f];
    ++kept;
  }
  facets.resize(kept);
  lines.resize(kept);
  mended.facets = std::move(facets);
  mended.lines = std::move(lines);
  return mended;
}

}  // namespace prepare
