// How the closed shells of a model lie inside one another, and which way
// each must face for it.
//
// A closed shell's depth is the number of other closed shells that enclose
// it. The material of a body lies inside the skin of a shell of even depth
// (0 for a body on its own, 2 for a body in another's cavity) and outside
// the void of a shell of odd depth (a cavity). The normals of a boundary-
// element model point into the fluid, so a shell of even depth must have a
// positive signed volume and a cavity a negative one.
//
// One shell encloses another when a point of the inner one lies inside the
// outer one. The point is decided by counting the facets a ray from it
// crosses, with exact orientation predicates: a ray that meets an edge or a
// corner, or runs in a facet's plane, is cast again in another direction,
// and a point on a facet is replaced by another point of the inner shell.
// Two shells that touch everywhere they are tried (a shell that lies on
// another) count as not enclosed.
//
// Cost: shells are paired only when one's box holds the other's (a sweep
// over the boxes, not all pairs); each candidate pair casts a few rays
// through a bounding-volume tree of the outer shell, built once per outer
// shell and dropped before the next. A model of one shell does no work
// beyond one pass over its facets.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"
#include "geometry/shells.h"
#include "geometry/vertex_merge.h"

namespace geometry {

// The depth of a shell that is not closed: it encloses nothing and is
// enclosed by nothing.
inline constexpr std::uint32_t NO_DEPTH = 0xffffffffU;

// Per shell (numbered as in the topology), its depth, or NO_DEPTH when it
// is not closed. With a merge, the facets are taken at their vertices'
// positions, so that corners merged into one vertex close the shell for the
// rays too; without one (null), the corners must already sit there.
std::vector<std::uint32_t> nest_shells(std::span<const Triangle> triangles,
                                       const VertexMerge* merge, const EdgeTopology& topology,
                                       std::span<const Shell> shells);

// How a shell's orientation stands to its depth.
enum class ShellFacing : std::uint8_t {
  not_closed,
  flat,                     // closed, enclosing no volume: no orientation
  agrees,                   // positive at even depth, negative at odd depth
  body_inside_out,          // even depth, negative volume
  cavity_pointing_outward,  // odd depth, positive volume
};

ShellFacing facing_of(const Shell& shell, std::uint32_t depth);

}  // namespace geometry
