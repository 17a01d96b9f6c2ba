// T-junctions: a vertex of one piece of surface that lies on the side of a
// facet of the next, where a CAD program split the side on one part and
// not on its neighbour. The seam is then closed as a shape and open as a
// mesh: the long side and the two short ones it should meet are each used
// by one facet.
//
// Only open sides and the vertices at the ends of open sides take part, so
// a closed model costs one pass over its sides. The vertices are sorted
// along each axis; a side looks only at those whose coordinate on the axis
// where its reach holds the fewest lies within its extent, so a hole's rim
// is searched in about n log n, not all pairs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"

namespace geometry {

struct TJunction {
  std::uint32_t facet = 0;  // whose open side the vertex lies on
  std::uint8_t side = 0;    // from corner `side` to corner side + 1
  std::uint32_t vertex = 0;
  double along = 0.0;  // where on the side, 0 at its first corner, 1 at its second
};

// Each vertex at the end of an open side that lies within `tolerance` of
// the inside of another open side (of a member facet, not at its ends:
// further than `tolerance` from both), in the order of the facets, their
// sides and `along`. Positions are the facets' corners; `vertex_ids` and
// `topology` as from merge_vertices and analyse_edges.
std::vector<TJunction> find_t_junctions(std::span<const Triangle> triangles,
                                        std::span<const VertexIds> vertex_ids,
                                        const EdgeTopology& topology, double tolerance);

}  // namespace geometry
