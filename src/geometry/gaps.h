// Gaps: open edges that face another open edge across a narrow crack, as
// where a CAD program wrote the two sides of one edge with slightly
// different corners.
//
// Open edge a -> b (as its facet runs it) faces open edge c -> d when the
// two run opposite ways side by side: a lies near d and b near c. The gap's
// width is the larger of |a - d| and |b - c|. A pair counts only when that
// width is at most half of either edge's length, so that the two rims of
// a real hole (a missing facet, whose corners lie an edge's length apart)
// never pair, and welding a pair never folds a facet onto itself.
//
// Cost: the pairs are found by intersecting a small box about each open
// edge's start with one about each open edge's end (a sweep, n log n), so a
// model without open edges does no work.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"

namespace geometry {

struct Gaps {
  std::int64_t edges = 0;  // open edges that face another across a gap
  double widest = 0.0;     // the widest of the narrowest gap of each such edge
  // Pairs of vertices to be joined to close every gap found: an edge's
  // start with its partner's end, and its end with its partner's start.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> joins;
};

// The gaps of a merged soup no wider than `limit` (model units; infinite
// for any width the half-edge rule allows). `vertex_ids` as the topology
// was built from; widths are measured between the facets' own corners.
Gaps find_gaps(std::span<const Triangle> triangles, std::span<const VertexIds> vertex_ids,
               const EdgeTopology& topology,
               double limit = std::numeric_limits<double>::infinity());

// A weld distance that closes gaps up to `width` wide: the next two-digit
// number above it, a tenth of a step clear, so that its text given back on
// a command line still reads as more than the width.
double suggested_weld(double width);

}  // namespace geometry
