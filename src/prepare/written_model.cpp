#include "prepare/written_model.h"

#include <algorithm>
#include <array>

#include "geometry/edge_topology.h"
#include "geometry/gaps.h"
#include "geometry/nesting.h"
#include "geometry/shape_figures.h"
#include "geometry/shells.h"
#include "geometry/t_junctions.h"
#include "geometry/vertex_merge.h"

namespace prepare {
namespace {

using geometry::FacetRole;
using geometry::SideKind;

// The kinds a written model can show, in the order of the table of kinds;
// a facet with a coordinate that is not finite is never written.
enum Kind : std::size_t {
  degenerate,
  duplicate,
  open,
  nonmanifold,
  misoriented,
  t_junction,
  inside_out,
  pointing_outward,
  flat,
  coarse,
  KINDS
};
constexpr std::array<std::string_view, KINDS> KIND_NAMES = {
    "degenerate_facets", "duplicate_facets", "open_edges",      "nonmanifold_edges",
    "misoriented_edges", "t_junctions",      "inverted_shells", "cavities_pointing_outward",
    "flat_shells",       "wavelength"};

void note(companion::Finding& finding, std::size_t f) {
  if (finding.lines.size() < companion::FINDING_LOCATIONS) {
    finding.lines.push_back(written_facet_line(f));
  }
}

}  // namespace

std::int64_t written_facet_line(std::size_t index) {
  return 2 + 7 * static_cast<std::int64_t>(index);
}

WrittenModel examine_written(std::span<const geometry::Triangle> facets, double max_side,
                             double min_angle_degrees) {
  WrittenModel written;
  std::array<companion::Finding, KINDS> found;
  for (std::size_t k = 0; k < KINDS; ++k) found[k].kind = KIND_NAMES[k];

  const geometry::VertexMerge merge =
      geometry::merge_vertices(facets, geometry::finite_box(facets));
  std::vector<FacetRole> roles = geometry::classify_merged_facets(facets, merge, min_angle_degrees);
  const geometry::EdgeTopology topology = geometry::analyse_edges(
      merge.vertex_ids, roles, static_cast<std::uint32_t>(merge.position_corner.size()));
  const std::vector<geometry::Shell> shells = geometry::measure_shells(facets, topology);
  const std::vector<std::uint32_t> depths = geometry::nest_shells(facets, &merge, topology, shells);
  const geometry::Gaps gaps = geometry::find_gaps(facets, merge.vertex_ids, topology);
  written.gap_edges = gaps.edges;
  written.widest_gap = gaps.widest;
  written.open_edges = topology.open_edges;
  written.nonmanifold_edges = topology.nonmanifold_edges;
  written.misoriented_edges = topology.misoriented_edges;
  written.shells = topology.shell_count;
  found[open].count = topology.open_edges;
  found[nonmanifold].count = topology.nonmanifold_edges;
  found[misoriented].count = topology.misoriented_edges;
  found[duplicate].count = topology.repeated_facets;
  const std::vector<geometry::TJunction> junctions =
      geometry::find_t_junctions(facets, merge.vertex_ids, topology, merge.tolerance);
  written.t_junctions = std::ssize(junctions);
  found[t_junction].count = written.t_junctions;
  for (const geometry::TJunction& junction : junctions) {
    if (found[t_junction].lines.empty() ||
        found[t_junction].lines.back() != written_facet_line(junction.facet)) {
      note(found[t_junction], junction.facet);
    }
  }

  std::vector<geometry::ShellFacing> facing(shells.size());
  for (std::size_t s = 0; s < shells.size(); ++s) {
    facing[s] = geometry::facing_of(shells[s], depths[s]);
    if (shells[s].closed && depths[s] % 2 == 1) ++written.cavities;
    if (facing[s] == geometry::ShellFacing::body_inside_out) ++found[inside_out].count;
    if (facing[s] == geometry::ShellFacing::cavity_pointing_outward) {
      ++found[pointing_outward].count;
    }
    if (facing[s] == geometry::ShellFacing::flat) ++found[flat].count;
  }
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] == FacetRole::degenerate) {
      ++found[degenerate].count;
      note(found[degenerate], f);
    }
    if (roles[f] == FacetRole::repeated) note(found[duplicate], f);
    const geometry::SideKinds& sides = topology.sides[f];
    const auto has = [&sides](SideKind kind) {
      return std::find(sides.begin(), sides.end(), kind) != sides.end();
    };
    if (has(SideKind::open)) note(found[open], f);
    if (has(SideKind::nonmanifold)) note(found[nonmanifold], f);
    if (has(SideKind::misoriented)) note(found[misoriented], f);
    if (const std::uint32_t s = topology.shell_of_facet[f];
        s != geometry::NO_SHELL && shells[s].first_facet == f) {
      if (facing[s] == geometry::ShellFacing::body_inside_out) note(found[inside_out], f);
      if (facing[s] == geometry::ShellFacing::cavity_pointing_outward) {
        note(found[pointing_outward], f);
      }
    }
    if (geometry::longest_side_of(facets[f]).length > max_side) {
      ++found[coarse].count;
      note(found[coarse], f);
    }
  }
  written.findings =
      companion::listed_findings(std::vector<companion::Finding>(found.begin(), found.end()));

  const geometry::ShapeExtremes shape = geometry::find_shape_extremes(facets);
  if (shape.any) {
    written.shape = {shape.smallest_angle_degrees, written_facet_line(shape.smallest_angle_facet),
                     shape.largest_aspect_ratio,
                     written_facet_line(shape.largest_aspect_ratio_facet)};
  }
  return written;
}

}  // namespace prepare
