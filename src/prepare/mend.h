// Mending a model read from a file: the steps, in this order, with the
// model check's own definitions (the geometry library's):
// 0. when asked, open edges that face another across a gap at most the
//    weld distance wide (geometry/gaps.h) are joined: the corners of each
//    pair's ends take one position, which step 1 then makes one vertex;
// 1. corners within the merge tolerance become one vertex, and every
//    corner takes its vertex's position, so that neighbours meet exactly;
//    from here on every shape is judged where the corners now are (a thin
//    facet whose corner moved onto its opposite side is flat);
// 2. T-junctions close: a facet's open side with vertices of other open
//    sides on it (within the merge tolerance, or the weld distance if that
//    is larger) is split at them, its facet becoming a fan from the
//    opposite corner (geometry/t_junctions.h);
// 3. degenerate facets (two corners one vertex, a sliver, or an angle
//    below the smallest allowed) are mended with their neighbours, so the
//    surface they close stays closed: one whose corner lies near its
//    longest side is swapped with the neighbour across that side (the two
//    become two sound facets on the neighbour's plane, the side's
//    diagonal exchanged), and a needle (a side under a tenth of its
//    longest) has that short side collapsed into one of its ends. Each
//    change is made only when the facets it leaves are sound, turned the
//    way they were, and no edge gains a third facet. A facet with two
//    corners one vertex is dropped, which is its collapse: its two other
//    sides are one edge of its neighbours;
// 4. facets with a non-finite coordinate, degenerate facets left and
//    repeated facets (the later copies) are dropped;
// 5. in each piece of surface connected through edges used by exactly two
//    facets, the facets that disagree with the majority of their piece are
//    flipped, so that every such edge is run in opposite directions;
// 6. each closed shell that faces the other way than its depth asks is
//    turned: a body (even depth: enclosed by no other closed shell, or
//    lying in a cavity) outward, a cavity (odd depth) into its void, so
//    that all normals point into the fluid (geometry/nesting.h).
// Holes and non-manifold edges are left as they are: what remains is
// counted and located.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/facet_soup.h"

namespace prepare {

struct MendedModel {
  // The facets kept, mended, in file order, and where each was read.
  std::vector<geometry::Triangle> facets;
  std::vector<std::int64_t> lines;

  std::int64_t welded_edges = 0;  // open edges joined across a gap
  double widest_gap_closed = 0.0;
  std::int64_t merged_corners = 0;      // joined to a vertex they do not equal exactly
  double merge_tolerance = 0.0;         // corners closer than this are one vertex
  std::int64_t t_junctions_closed = 0;  // vertices a facet's side was split at
  std::int64_t slivers_swapped = 0;     // degenerate facets swapped with a neighbour
  std::int64_t needles_collapsed = 0;   // degenerate facets whose short side was collapsed
  std::int64_t dropped_nonfinite = 0;
  std::int64_t dropped_degenerate = 0;
  std::int64_t dropped_duplicate = 0;
  // Facets written in the other orientation than they were read.
  std::int64_t flipped_facets = 0;
  std::int64_t shells_turned_outward = 0;   // bodies that were inside out
  std::int64_t cavities_turned_inward = 0;  // cavities that pointed outward
  std::int64_t cavities = 0;                // closed shells of odd depth
  std::int64_t shells = 0;
  // What remains after the mend is told from the facets written
  // (prepare/written_model.h), as the check would tell it.
};

// Mends the facets as read (`lines` says where each was read; one entry per
// facet). Takes both over. `weld_distance` 0 welds nothing.
MendedModel mend_model(std::vector<geometry::Triangle> facets, std::vector<std::int64_t> lines,
                       double weld_distance = 0.0,
                       double min_angle_degrees = geometry::DEFAULT_MIN_ANGLE_DEGREES);

}  // namespace prepare
