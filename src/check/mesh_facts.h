// The geometry and topology of a scanned model, as the check reports them:
// the counts, and where the first few of each finding lie.
//
// Which facets take part in what (definitions in the geometry library):
//   every facet            counted in `facets`
//   finite facets          bounding box, longest edge, vertices
//   ... not degenerate     repeated facets
//   ... not repeated       edges, shells, area and volume
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"
#include "geometry/shape_figures.h"
#include "geometry/shells.h"

namespace check {

// The kinds of finding that lie at facets; shells facing the wrong way for
// their depth (geometry/nesting.h) are named by their first facet.
enum class FacetFinding : std::uint8_t {
  nonfinite,
  degenerate,
  repeated,
  open_edge,
  nonmanifold_edge,
  misoriented_edge,
  body_inside_out,          // even depth, negative volume
  cavity_pointing_outward,  // odd depth, positive volume
  t_junction,               // a vertex lies on the facet's open side
};
inline constexpr std::size_t FACET_FINDING_KINDS = 9;

// How many locations of each kind are kept and reported.
inline constexpr std::size_t LOCATIONS_SHOWN = 10;

struct MeshFacts {
  std::int64_t nonfinite_facets = 0;
  std::int64_t degenerate_facets = 0;
  std::int64_t duplicate_facets = 0;  // repeated facets
  std::int64_t vertices = 0;
  std::int64_t near_coincident_corners = 0;
  double merge_tolerance = 0.0;        // corners closer than this are one vertex
  std::int64_t open_edges = 0;         // used by one facet
  std::int64_t gap_edges = 0;          // open edges facing another across a gap
  double widest_gap = 0.0;             // geometry/gaps.h
  std::int64_t nonmanifold_edges = 0;  // used by more than two facets
  std::int64_t misoriented_edges = 0;  // two facets that run it the same way
  // Vertices lying on another facet's open side (geometry/t_junctions.h),
  // and of the degenerate facets those whose every side is shared, so that
  // deleting them would open the surface (a sliver closing a T-junction).
  std::int64_t t_junctions = 0;
  std::int64_t degenerate_closing = 0;
  double min_angle_degrees = 0.0;  // the limit the degenerate facets were judged by
  std::int64_t shells = 0;         // facets joined through shared edges
  // Closed shells by how they face for their depth: a body (even depth)
  // outward and a cavity (odd depth) into its void agree; a body with a
  // negative volume is inside out; a cavity with a positive one points
  // outward (which is also what a body placed inside a body looks like).
  std::int64_t agreeing_shells = 0;
  std::int64_t inverted_shells = 0;  // bodies inside out
  std::int64_t cavities_pointing_outward = 0;
  std::int64_t cavities = 0;     // closed shells of odd depth, whichever way they face
  std::int64_t flat_shells = 0;  // closed, enclosing no volume
  double area = 0.0;
  // The material's volume: the sum of the shells' signed volumes, each
  // about a point of its own (a cavity facing its void subtracts its own).
  double volume = 0.0;
  std::optional<geometry::Box> bounding_box;  // none without a finite facet
  double longest_edge = 0.0;      // 0 without a finite facet; infinite past the largest double
  geometry::ShapeExtremes shape;  // the worst-shaped finite facets
  // Per kind, the facet numbers (0-based, ascending) of the first
  // LOCATIONS_SHOWN facets where it occurs.
  std::array<std::vector<std::uint32_t>, FACET_FINDING_KINDS> first_facets;
};

// The facts, and the per-facet tables they were counted from, which the
// findings view draws.
struct MeshAnalysis {
  MeshFacts facts;
  std::vector<geometry::FacetRole> roles;
  geometry::EdgeTopology topology;
  std::vector<geometry::Shell> shells;
  std::vector<std::uint32_t> depths;             // per shell, as from geometry::nest_shells
  std::vector<geometry::VertexIds> vertex_ids;   // only when asked to keep them
  std::vector<std::uint32_t> t_junction_facets;  // ascending, each once
};

enum class VertexIdsKept { no, yes };

// Facets are judged degenerate by their shape once their corners are
// merged, with `min_angle_degrees` as the smallest angle allowed.
MeshAnalysis analyse_mesh(std::span<const geometry::Triangle> facets,
                          VertexIdsKept keep = VertexIdsKept::no,
                          double min_angle_degrees = geometry::DEFAULT_MIN_ANGLE_DEGREES);

// Whether facet f shows the finding, from the analysis' tables.
bool has_finding(const MeshAnalysis& analysis, std::size_t f, FacetFinding kind);

}  // namespace check
