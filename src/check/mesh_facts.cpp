#include "check/mesh_facts.h"

#include <algorithm>
#include <utility>

#include "geometry/gaps.h"
#include "geometry/nesting.h"
#include "geometry/vertex_merge.h"

namespace check {
namespace {

using geometry::FacetRole;
using geometry::SideKind;

bool has_side(const geometry::SideKinds& sides, SideKind kind) {
  return std::find(sides.begin(), sides.end(), kind) != sides.end();
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

MeshAnalysis analyse_mesh(std::span<const geometry::Triangle> facets, VertexIdsKept keep) {
  MeshAnalysis analysis;
  MeshFacts& facts = analysis.facts;
  facts.bounding_box = geometry::finite_box(facets);
  facts.longest_edge = geometry::longest_side(facets);
  facts.shape = geometry::find_shape_extremes(facets);
  geometry::VertexMerge merge = geometry::merge_vertices(facets, facts.bounding_box);
  facts.vertices = std::ssize(merge.position_corner);
  facts.near_coincident_corners = merge.near_coincident_corners;
  facts.merge_tolerance = merge.tolerance;
  analysis.roles = geometry::classify_facets(facets, merge.vertex_ids);
  analysis.topology = geometry::analyse_edges(merge.vertex_ids, analysis.roles,
                                              static_cast<std::uint32_t>(facts.vertices));
  analysis.shells = geometry::measure_shells(facets, analysis.topology);
  analysis.depths = geometry::nest_shells(facets, &merge, analysis.topology, analysis.shells);
  {
    const geometry::Gaps gaps = geometry::find_gaps(facets, merge.vertex_ids, analysis.topology);
    facts.gap_edges = gaps.edges;
    facts.widest_gap = gaps.widest;
  }
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
      facts.nonfinite_facets, facts.degenerate_facets,        facts.duplicate_facets,
      facts.open_edges,       facts.nonmanifold_edges,        facts.misoriented_edges,
      facts.inverted_shells,  facts.cavities_pointing_outward};
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
