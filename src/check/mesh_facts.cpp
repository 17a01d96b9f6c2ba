#include "check/mesh_facts.h"

#include <algorithm>
#include <utility>

#include "geometry/gaps.h"
#include "geometry/nesting.h"
#include "geometry/t_junctions.h"
#include "geometry/vertex_merge.h"

namespace check {
namespace {

using geometry::FacetRole;
using geometry::SideKind;

bool has_side(const geometry::SideKinds& sides, SideKind kind) {
  return std::find(sides.begin(), sides.end(), kind) != sides.end();
}

// The degenerate facets with three vertices whose every side is an edge of
// the members in the other direction: the surface runs past them closed,
// so deleting one would open it.
std::int64_t count_closing_degenerate(std::span<const geometry::VertexIds> vertex_ids,
                                      std::span<const FacetRole> roles) {
  std::vector<std::uint64_t> wanted;
  const auto key = [](std::uint32_t from, std::uint32_t to) {
    return std::uint64_t{from} << 32 | to;
  };
  for (std::size_t f = 0; f < roles.size(); ++f) {
    const geometry::VertexIds& ids = vertex_ids[f];
    if (roles[f] != FacetRole::degenerate || ids[0] == ids[1] || ids[1] == ids[2] ||
        ids[0] == ids[2]) {
      continue;
    }
    for (std::size_t k = 0; k < 3; ++k) wanted.push_back(key(ids[(k + 1) % 3], ids[k]));
  }
  if (wanted.empty()) return 0;
  std::sort(wanted.begin(), wanted.end());
  std::vector<std::uint8_t> present(wanted.size(), 0);
  for (std::size_t f = 0; f < roles.size(); ++f) {
    if (roles[f] != FacetRole::member) continue;
    for (std::size_t k = 0; k < 3; ++k) {
      const std::uint64_t side = key(vertex_ids[f][k], vertex_ids[f][(k + 1) % 3]);
      const auto it = std::lower_bound(wanted.begin(), wanted.end(), side);
      for (auto at = it; at != wanted.end() && *at == side; ++at) {
        present[static_cast<std::size_t>(at - wanted.begin())] = 1;
      }
    }
  }
  std::int64_t closing = 0;
  for (std::size_t f = 0; f < roles.size(); ++f) {
    const geometry::VertexIds& ids = vertex_ids[f];
    if (roles[f] != FacetRole::degenerate || ids[0] == ids[1] || ids[1] == ids[2] ||
        ids[0] == ids[2]) {
      continue;
    }
    bool all = true;
    for (std::size_t k = 0; k < 3 && all; ++k) {
      const std::uint64_t side = key(ids[(k + 1) % 3], ids[k]);
      const auto it = std::lower_bound(wanted.begin(), wanted.end(), side);
      all = present[static_cast<std::size_t>(it - wanted.begin())] != 0;
    }
    if (all) ++closing;
  }
  return closing;
}

}  // namespace

bool has_finding(const MeshAnalysis& analysis, std::size_t f, FacetFinding kind) {
  switch (kind) {
    case FacetFinding::nonfinite:
      return analysis.roles[f] == FacetRole::nonfinite;
    case FacetFinding::degenerate:
      return analysis.roles[f] == FacetRole::degenerate;
    case FacetFinding::repeated:
      return analysis.roles[f] == FacetRole::repeated;
    case FacetFinding::open_edge:
      return has_side(analysis.topology.sides[f], SideKind::open);
    case FacetFinding::nonmanifold_edge:
      return has_side(analysis.topology.sides[f], SideKind::nonmanifold);
    case FacetFinding::misoriented_edge:
      return has_side(analysis.topology.sides[f], SideKind::misoriented);
    case FacetFinding::t_junction:
      return std::binary_search(analysis.t_junction_facets.begin(),
                                analysis.t_junction_facets.end(), static_cast<std::uint32_t>(f));
    case FacetFinding::body_inside_out:
    case FacetFinding::cavity_pointing_outward:
      break;
  }
  const std::uint32_t s = analysis.topology.shell_of_facet[f];
  if (s == geometry::NO_SHELL || analysis.shells[s].first_facet != f) return false;
  const geometry::ShellFacing facing = geometry::facing_of(analysis.shells[s], analysis.depths[s]);
  return facing == (kind == FacetFinding::body_inside_out
                        ? geometry::ShellFacing::body_inside_out
                        : geometry::ShellFacing::cavity_pointing_outward);
}

MeshAnalysis analyse_mesh(std::span<const geometry::Triangle> facets, VertexIdsKept keep,
                          double min_angle_degrees) {
  MeshAnalysis analysis;
  MeshFacts& facts = analysis.facts;
  facts.bounding_box = geometry::finite_box(facets);
  facts.longest_edge = geometry::longest_side(facets);
  facts.shape = geometry::find_shape_extremes(facets);
  geometry::VertexMerge merge = geometry::merge_vertices(facets, facts.bounding_box);
  facts.vertices = std::ssize(merge.position_corner);
  facts.near_coincident_corners = merge.near_coincident_corners;
  facts.merge_tolerance = merge.tolerance;
  facts.min_angle_degrees = min_angle_degrees;
  analysis.roles = geometry::classify_merged_facets(facets, merge, min_angle_degrees);
  analysis.topology = geometry::analyse_edges(merge.vertex_ids, analysis.roles,
                                              static_cast<std::uint32_t>(facts.vertices));
  analysis.shells = geometry::measure_shells(facets, analysis.topology);
  analysis.depths = geometry::nest_shells(facets, &merge, analysis.topology, analysis.shells);
  {
    const geometry::Gaps gaps = geometry::find_gaps(facets, merge.vertex_ids, analysis.topology);
    facts.gap_edges = gaps.edges;
    facts.widest_gap = gaps.widest;
  }
  {
    const std::vector<geometry::TJunction> junctions =
        geometry::find_t_junctions(facets, merge.vertex_ids, analysis.topology, merge.tolerance);
    facts.t_junctions = std::ssize(junctions);
    for (const geometry::TJunction& junction : junctions) {
      analysis.t_junction_facets.push_back(junction.facet);
    }
    std::sort(analysis.t_junction_facets.begin(), analysis.t_junction_facets.end());
    analysis.t_junction_facets.erase(
        std::unique(analysis.t_junction_facets.begin(), analysis.t_junction_facets.end()),
        analysis.t_junction_facets.end());
  }
  facts.degenerate_closing = count_closing_degenerate(merge.vertex_ids, analysis.roles);
  if (keep == VertexIdsKept::yes) analysis.vertex_ids = std::move(merge.vertex_ids);
  merge = {};

  const geometry::EdgeTopology& topology = analysis.topology;
  facts.open_edges = topology.open_edges;
  facts.nonmanifold_edges = topology.nonmanifold_edges;
  facts.misoriented_edges = topology.misoriented_edges;
  facts.duplicate_facets = topology.repeated_facets;
  facts.shells = topology.shell_count;
  for (std::size_t s = 0; s < analysis.shells.size(); ++s) {
    const geometry::Shell& shell = analysis.shells[s];
    facts.area += shell.area;
    facts.volume += shell.volume;
    const std::uint32_t depth = analysis.depths[s];
    if (shell.closed && depth % 2 == 1) ++facts.cavities;
    switch (geometry::facing_of(shell, depth)) {
      case geometry::ShellFacing::agrees:
        ++facts.agreeing_shells;
        break;
      case geometry::ShellFacing::body_inside_out:
        ++facts.inverted_shells;
        break;
      case geometry::ShellFacing::cavity_pointing_outward:
        ++facts.cavities_pointing_outward;
        break;
      case geometry::ShellFacing::flat:
        ++facts.flat_shells;
        break;
      case geometry::ShellFacing::not_closed:
        break;
    }
  }
  for (const FacetRole role : analysis.roles) {
    if (role == FacetRole::nonfinite) ++facts.nonfinite_facets;
    if (role == FacetRole::degenerate) ++facts.degenerate_facets;
  }
  // Only the kinds present are looked for, and only until enough are found.
  const std::int64_t counts[FACET_FINDING_KINDS] = {
      facts.nonfinite_facets, facts.degenerate_facets,         facts.duplicate_facets,
      facts.open_edges,       facts.nonmanifold_edges,         facts.misoriented_edges,
      facts.inverted_shells,  facts.cavities_pointing_outward, facts.t_junctions};
  std::vector<FacetFinding> wanted;
  for (std::size_t kind = 0; kind < FACET_FINDING_KINDS; ++kind) {
    if (counts[kind] > 0) wanted.push_back(static_cast<FacetFinding>(kind));
  }
  for (std::size_t f = 0; f < facets.size() && !wanted.empty(); ++f) {
    for (std::size_t i = 0; i < wanted.size();) {
      std::vector<std::uint32_t>& first = facts.first_facets[static_cast<std::size_t>(wanted[i])];
      if (has_finding(analysis, f, wanted[i])) first.push_back(static_cast<std::uint32_t>(f));
      if (first.size() == LOCATIONS_SHOWN) {
        wanted.erase(wanted.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  return analysis;
}

}  // namespace check
