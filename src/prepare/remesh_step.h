// The preparation's remesh for the frequency: the target size from the
// wavelength, the allowed deviation, and the figures the report shows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "geometry/facet_soup.h"
#include "geometry/remesh.h"
#include "geometry/shape_figures.h"
#include "prepare/options.h"
#include "prepare/progress.h"

namespace prepare {

// The deviation allowed when none is given: the smaller of max_side / 25
// and a thousandth of the model's diagonal. At the first a chord of the
// limit's length may cut a curve whose radius is about five times the
// limit; the second keeps the area and the volume of a curved body within
// about half a percent at any frequency.
double default_deviation(double max_side, std::span<const geometry::Triangle> facets);

struct RemeshStep {
  geometry::RemeshStatus status = geometry::RemeshStatus::remeshed;
  std::vector<geometry::Triangle> facets;
  geometry::ShapeFigures before;
  geometry::ShapeFigures after;
  double equilateral_estimate = 0.0;  // of the input's area at max_side
  double max_deviation = 0.0;         // allowed
  double largest_deviation = 0.0;     // measured on the result
  std::int64_t sharp_edges = 0;       // sharp and border edges of the input
  std::int64_t sharp_edges_kept = 0;
  // Whether bisection is kept instead of the result the remesh gave (see
  // remesh_for_frequency), and bisection's count, exact when the remesh
  // gave more facets.
  bool declined = false;
  std::uint64_t bisection_facets = 0;
};

// The facets the remesh would give about, before it runs: to refuse a
// result too large for the converter without spending the time.
double expected_remesh_facets(const geometry::ShapeFigures& before, double max_side);

// Why a remesh to `facets` facets is refused: more than `limit`, and the
// highest frequency (4 significant digits, rounded down) that should fit,
// the count growing with the square of the frequency, and at which the
// limit is no finer than `finest_side` (twice shortest_half_side: finer
// pieces the coordinates cannot hold apart). Where `facets` is beyond the
// largest double, `log2_facets` gives it.
std::string too_large_remesh(double facets, double log2_facets, std::uint64_t limit,
                             double finest_side, const PrepareOptions& options);

// The remesh of the mended facets, kept only where it beats bisection to
// the same limit: bisection is exact and never moves the surface, so a
// remesh that gives more facets than it does, or a smallest angle below
// half the input's (longest-edge bisection never halves it further), is
// declined and bisection runs instead.
RemeshStep remesh_for_frequency(std::span<const geometry::Triangle> facets,
                                const PrepareOptions& options, ProgressLine& progress);

}  // namespace prepare
