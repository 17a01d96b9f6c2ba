// The geometry and topology of a scanned model: what the solver will see
// of the facets the converter writes.
//
// Which facets take part in what:
//   every facet            counted in `facets`
//   finite facets          bounding box and longest edge
//   ... not degenerate     vertices, duplicates
//   ... not duplicates     edges, shells, area and volume
// A facet with a NaN or infinite coordinate takes part in nothing else; a
// degenerate one (zero area as computed) has no sides that could join it to
// a neighbour; a later copy of an earlier facet is left out of the edges so
// that the edge counts say what remains once the copies are removed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "reading/stl_scanner.h"

namespace check {

struct BoundingBox {
  reading::Corner lowest;   // xmin, ymin, zmin
  reading::Corner highest;  // xmax, ymax, zmax
};

struct MeshFacts {
  std::int64_t nonfinite_facets = 0;
  std::int64_t degenerate_facets = 0;
  std::int64_t duplicate_facets = 0;
  std::int64_t vertices = 0;
  std::int64_t open_edges = 0;              // used by one facet
  std::int64_t nonmanifold_edges = 0;       // used by more than two facets
  std::int64_t misoriented_edges = 0;       // two facets that run it the same way
  std::int64_t shells = 0;                  // facets joined through shared edges
  double area = 0.0;                        // sum of |u x v| / 2
  double volume = 0.0;                      // sum of a . (b x c) / 6
  std::optional<BoundingBox> bounding_box;  // none without a finite facet
  double longest_edge = 0.0;                // 0 without a finite facet
};

// True when a facet's corners coincide pairwise, or u x v (u = b - a,
// v = c - a) is exactly the zero vector as computed in doubles.
bool is_degenerate(const reading::FacetCorners& corners);

// Vertices are found by sorting corners on this key, 40 bits mixed from
// the coordinates: equal corners (-0.0 equals 0.0) have equal keys, and the
// rare unequal corners that share a key are told apart by their
// coordinates afterwards.
std::uint64_t corner_sort_key(const reading::Corner& corner);

MeshFacts analyse_mesh(std::span<const reading::FacetCorners> facets);

}  // namespace check
