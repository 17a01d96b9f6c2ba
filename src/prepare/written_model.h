// The model a preparation wrote, examined as the model check examines the
// file it reads (the geometry library's definitions, counted the same way),
// so that what the preparation reports of OUT is what the check will say
// of it: the findings by kind with the lines of OUT where they lie, the
// shells, and the shape of the elements.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "companion/findings.h"
#include "geometry/facet_soup.h"

namespace prepare {

// The line of OUT on which the facet line of facet `index` (0-based) lies:
// the solid line first, then seven lines per facet.
std::int64_t written_facet_line(std::size_t index);

struct WrittenModel {
  // The findings with a count above zero, in the order of the kinds;
  // `wavelength` counts the facets with a side longer than max_side.
  std::vector<companion::Finding> findings;
  std::int64_t open_edges = 0;
  std::int64_t nonmanifold_edges = 0;
  std::int64_t misoriented_edges = 0;
  std::int64_t t_junctions = 0;  // vertices on an open side of another facet
  std::int64_t gap_edges = 0;    // open edges facing another across a gap
  double widest_gap = 0.0;
  std::int64_t shells = 0;
  std::int64_t cavities = 0;  // closed shells of odd depth
  companion::ShapeFacts shape;
};

// `facets` as written to OUT, in order; `max_side` is the longest side the
// wavelength allows; a facet with an angle below `min_angle_degrees` is
// degenerate. Each facet's shape is judged where its corners go once
// merged, as the check judges them.
WrittenModel examine_written(std::span<const geometry::Triangle> facets, double max_side,
                             double min_angle_degrees);

}  // namespace prepare
