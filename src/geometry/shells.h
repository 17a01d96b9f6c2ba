// The shells of a merged facet soup, measured: whether each is closed, its
// signed volume and its area.
//
// The signed volume of a shell is the sum over its facets of
// (a - o) . ((b - o) x (c - o)) / 6 about a point o of the shell (the first
// corner of its first facet). For a closed shell it does not depend on o;
// summing about a point of the shell rather than the origin keeps the
// terms as small as the shell, so a model placed at site coordinates
// hundreds of kilometres from the origin keeps its digits (about the
// origin each term is the size of the distance cubed, and their sum
// cancels to noise).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/edge_topology.h"
#include "geometry/facet_soup.h"

namespace geometry {

struct Shell {
  std::uint32_t first_facet = 0;  // its lowest facet number
  std::uint32_t facets = 0;
  // Every edge of its facets used by two of them in opposite directions.
  bool closed = false;
  double volume = 0.0;  // signed; may underflow to zero or overflow
  double area = 0.0;
  // The sign of the volume, found on coordinates scaled to the shell's own
  // size, so that it survives where the volume itself underflows or
  // overflows: +1 outward, -1 inside out, 0 when the volume lies within the
  // rounding of its terms (a sheet back to back encloses nothing).
  int orientation = 0;
};

// Closed shells with orientation -1 are inside out ("inverted"); a closed
// one with orientation 0 encloses no volume and has no orientation to speak
// of. Each shell is summed on its coordinates less its first corner,
// divided by a power of two near its extent: exact, and every term of a
// size near one.
std::vector<Shell> measure_shells(std::span<const Triangle> triangles,
                                  const EdgeTopology& topology);

}  // namespace geometry
