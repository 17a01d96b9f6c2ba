// Corners merged into vertices for the topology.
//
// Two corners are within the tolerance when their distance is at most
// `merge_tolerance(finite_box)` (1e-9 times the box's diagonal, or a few
// units in the last place of the largest coordinate if that is more). The
// vertices are the groups of corners joined by chains of such pairs (the
// union of all pairs within the tolerance), so the grouping depends on the
// set of corners only, never on the order of the facets; a chain of
// corners each within the tolerance of the next is one vertex even when its
// ends lie further apart. Exactly equal corners (-0.0 equals 0.0) are
// always one vertex.
//
// The merge is for the topology only: areas, volumes and the box use the
// corners as read.
//
// Memory: one 64-bit key per corner while sorting (two during the radix
// passes), and a few 32-bit words per distinct corner position; no node
// per vertex on the heap. Corners are bucketed in cubic cells about a
// thousand tolerances wide, so a corner looks beyond its own cell only when
// it lies within the tolerance of a cell's face.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "geometry/facet_soup.h"

namespace geometry {

struct VertexMerge {
  double tolerance = 0.0;
  // Per facet, the vertex of each corner; NO_VERTEX for all three corners
  // of a facet with a non-finite coordinate. Vertices are numbered in the
  // order their first corner appears (facet by facet, corner by corner).
  std::vector<VertexIds> vertex_ids;
  // Per vertex, the corner number (3 * facet + k) whose coordinates the
  // vertex takes: the position most of its corners have, the
  // lexicographically lowest (x, then y, then z) among equally common ones.
  std::vector<std::uint32_t> position_corner;
  // Corners joined to a vertex whose position they do not equal exactly.
  std::int64_t near_coincident_corners = 0;
};

// Merges the corners of the finite facets; `box` is finite_box(triangles).
// At most MAX_SOUP_FACETS facets.
VertexMerge merge_vertices(std::span<const Triangle> triangles, const std::optional<Box>& box);

// The position a vertex takes.
inline const Point& vertex_position(std::span<const Triangle> triangles, const VertexMerge& merge,
                                    std::uint32_t vertex) {
  const std::uint32_t corner = merge.position_corner[vertex];
  return triangles[corner / 3][corner % 3];
}

// The triangle of a finite facet's vertices: its corners where the merge
// puts them.
inline Triangle merged_triangle(std::span<const Triangle> triangles, const VertexMerge& merge,
                                std::size_t facet) {
  const VertexIds& ids = merge.vertex_ids[facet];
  return {vertex_position(triangles, merge, ids[0]), vertex_position(triangles, merge, ids[1]),
          vertex_position(triangles, merge, ids[2])};
}

// Roles as classify_facets gives them, with each facet's shape judged where
// its corners go once merged: a thin facet whose corner moves onto its
// opposite side is flat, whatever it was as read. This is the shape a model
// written from the merged vertices has, so a check of such a model agrees
// with the classification of the model it came from.
std::vector<FacetRole> classify_merged_facets(std::span<const Triangle> triangles,
                                              const VertexMerge& merge,
                                              double min_angle_degrees = DEFAULT_MIN_ANGLE_DEGREES);

}  // namespace geometry
