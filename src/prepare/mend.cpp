#include "prepare/mend.h"

#include <span>
#include <utility>

#include "geometry/edge_topology.h"
#include "geometry/gaps.h"
#include "geometry/nesting.h"
#include "geometry/shells.h"
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

void note(Finding& finding, std::int64_t line) {
  if (finding.lines.size() < LOCATIONS_KEPT) finding.lines.push_back(line);
}

}  // namespace

MendedModel mend_model(std::vector<geometry::Triangle> facets, std::vector<std::int64_t> lines,
                       double weld_distance) {
  MendedModel mended;
  if (weld_distance > 0.0) {
    const geometry::Gaps welded = weld_gaps(facets, weld_distance);
    mended.welded_edges = welded.edges;
    mended.widest_gap_closed = welded.widest;
  }
  const std::optional<geometry::Box> box = geometry::finite_box(facets);
  geometry::VertexMerge merge = geometry::merge_vertices(facets, box);
  mended.merged_corners = merge.near_coincident_corners;
  mended.merge_tolerance = merge.tolerance;
  std::vector<geometry::FacetRole> roles = geometry::classify_facets(facets, merge.vertex_ids);
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

  // Every corner takes its vertex's position. The corner a vertex takes its
  // position from already holds it, so this can be done in place, as long
  // as no corner moves to another place before all have been set.
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] != geometry::FacetRole::member) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      facets[f][k] = geometry::vertex_position(facets, merge, merge.vertex_ids[f][k]);
    }
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
    if (shells[s].closed && shells[s].orientation == 0) ++mended.flat_shells;
  }

  // Gaps between the open edges that remain, measured before the facets
  // move (the tables are by facet number).
  {
    const geometry::Gaps gaps = geometry::find_gaps(facets, merge.vertex_ids, topology);
    mended.gap_edges = gaps.edges;
    mended.widest_gap = gaps.widest;
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
    bool open = false;
    bool nonmanifold = false;
    bool misoriented = false;
    for (const geometry::SideKind kind : topology.sides[f]) {
      open = open || kind == geometry::SideKind::open;
      nonmanifold = nonmanifold || kind == geometry::SideKind::nonmanifold;
      misoriented = misoriented || kind == geometry::SideKind::misoriented;
    }
    if (open) note(mended.open_edges, lines[f]);
    if (nonmanifold) note(mended.nonmanifold_edges, lines[f]);
    if (misoriented) note(mended.misoriented_edges, lines[f]);
    facets[kept] = facets[f];
    lines[kept] = lines[f];
    ++kept;
  }
  mended.open_edges.count = topology.open_edges;
  mended.nonmanifold_edges.count = topology.nonmanifold_edges;
  mended.misoriented_edges.count = topology.misoriented_edges;
  facets.resize(kept);
  lines.resize(kept);
  mended.facets = std::move(facets);
  mended.lines = std::move(lines);
  return mended;
}

}  // namespace prepare
