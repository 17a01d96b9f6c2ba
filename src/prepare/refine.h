// Refinement of a surface by longest-edge bisection, until no edge is
// longer than a given length.
//
// A facet whose longest side is longer than the limit is cut in two at the
// midpoint of that side, by a line to the opposite corner; each half is
// treated the same way, until every side is within the limit. Cutting at
// the longest side keeps the shapes bounded: the smallest angle of any
// piece is at least half the smallest angle of its facet.
//
// The result is conforming without any bookkeeping between facets. A side
// is cut if and only if it is longer than the limit, whichever facet it is
// a side of, since every piece with a side above the limit is cut again
// until none is left; and it is always cut at its midpoint, computed from
// its two ends the same way in any order ((a + b) / 2 rounds the same for
// b + a). So a side shared by two facets, with the same coordinates at its
// ends, is cut into the same pieces with the same coordinates in both: a
// closed surface stays closed and no corner lies on another facet's side.
// Every new corner is the midpoint of a side of a piece of an original
// facet, so it lies on that facet (to rounding): the surface, its area,
// its volume and its box are those of the input.
//
// Pieces keep the orientation of their facet.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "reading/stl_scanner.h"

namespace prepare {

struct RefinedCount {
  std::uint64_t facets = 0;   // exact when at most the cap given, else above it
  double longest_side = 0.0;  // the longest side of the pieces (when within the cap)
};

// The facets refinement to `max_side` gives; counting stops as soon as the
// count is above `cap`. Takes as long as the pieces it counts, without
// keeping any. A limit below what the coordinates can resolve (a side
// whose midpoint rounds to one of its ends) counts as above any cap.
RefinedCount count_refined(std::span<const reading::FacetCorners> facets, double max_side,
                           std::uint64_t cap);

// Hands every piece of the refinement to `take(piece, longest_side)`,
// facet by facet, pieces in a fixed order. `take` returns false to stop.
// Returns false when stopped, or when a side cannot be cut (a limit below
// what the coordinates resolve: its midpoint rounds to one of its ends).
template <typename Take>
bool refine_facets(std::span<const reading::FacetCorners> facets, double max_side, Take&& take);

// The count of facets refinement to `max_side` gives (an estimate when the
// exact count would take too long), for a refinement refused as too large.
struct RefinementSize {
  double facets = 0.0;  // exact up to 2 * cap, else about
  bool exact = true;
};
RefinementSize size_refinement(std::span<const reading::FacetCorners> facets, double max_side,
                               std::uint64_t cap);

// The highest frequency with 4 significant digits (rounded down) at which
// refinement to wavelength / K gives at most `cap` facets, wavelength =
// sound_speed / frequency; 0 when none does (an edge of infinite length).
// `size` is the size at `frequency`, which is too large.
double highest_fitting_frequency(std::span<const reading::FacetCorners> facets, double sound_speed,
                                 double elements_per_wavelength, double frequency,
                                 const RefinementSize& size, std::uint64_t cap);

// The length of the side from a to b, exact to rounding at any scale;
// infinite when it is longer than the largest double.
double side_length(const reading::Corner& a, const reading::Corner& b);

// The midpoint of the side from a to b, the same for b to a.
inline reading::Corner midpoint(const reading::Corner& a, const reading::Corner& b) {
  reading::Corner m{};
  for (std::size_t k = 0; k < 3; ++k) {
    const double sum = a[k] + b[k];
    // Halving each first would lose the last bit of subnormals; it is
    // needed only where the sum overflows.
    m[k] = std::isfinite(sum) ? sum * 0.5 : a[k] * 0.5 + b[k] * 0.5;
  }
  return m;
}

// The index (0, 1, 2) of the side of `facet` to cut, side k running from
// corner k to corner k + 1: its longest side (the first of equal ones); -1
// when that is within `max_side`. `longest` is set to its length.
inline int side_to_cut(const reading::FacetCorners& facet, double max_side, double& longest) {
  // Squares first, which is fast; the longest is the first of equal ones,
  // so the same piece is always cut the same way.
  std::array<double, 3> squares{};
  for (std::size_t k = 0; k < 3; ++k) {
    const reading::Corner& a = facet[k];
    const reading::Corner& b = facet[(k + 1) % 3];
    const double dx = b[0] - a[0];
    const double dy = b[1] - a[1];
    const double dz = b[2] - a[2];
    squares[k] = dx * dx + dy * dy + dz * dz;
  }
  std::size_t side = 0;
  if (squares[1] > squares[side]) side = 1;
  if (squares[2] > squares[side]) side = 2;
  const double largest = squares[side];
  if (largest > 1e300 || largest < 1e-290 || !std::isfinite(largest)) {
    // Squares out of their safe range compare wrongly: the lengths again,
    // exact to rounding at any scale.
    std::array<double, 3> lengths{};
    side = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      lengths[k] = side_length(facet[k], facet[(k + 1) % 3]);
      if (lengths[k] > lengths[side]) side = k;
    }
    longest = lengths[side];
  } else {
    longest = std::sqrt(largest);
  }
  return longest > max_side ? static_cast<int>(side) : -1;
}

// The two halves of `facet` cut at the midpoint m of side k (from corner
// k = a to corner k + 1 = b, c opposite): (a, m, c) and (m, b, c), both
// with the facet's orientation.
inline void cut_facet(const reading::FacetCorners& facet, int side, reading::FacetCorners& first,
                      reading::FacetCorners& second) {
  const auto k = static_cast<std::size_t>(side);
  const reading::Corner& a = facet[k];
  const reading::Corner& b = facet[(k + 1) % 3];
  const reading::Corner& c = facet[(k + 2) % 3];
  const reading::Corner m = midpoint(a, b);
  first = {a, m, c};
  second = {m, b, c};
}

template <typename Take>
bool refine_facets(std::span<const reading::FacetCorners> facets, double max_side, Take&& take) {
  std::vector<reading::FacetCorners> pending;
  for (const reading::FacetCorners& facet : facets) {
    pending.push_back(facet);
    while (!pending.empty()) {
      const reading::FacetCorners piece = pending.back();
      pending.pop_back();
      double longest = 0.0;
      const int side = side_to_cut(piece, max_side, longest);
      if (side < 0) {
        if (!take(piece, longest)) return false;
        continue;
      }
      reading::FacetCorners first{};
      reading::FacetCorners second{};
      cut_facet(piece, side, first, second);
      // A side so short next to its coordinates that its midpoint is one of
      // its ends cannot be cut: no refinement reaches the limit.
      if (first[1] == first[0] || second[0] == second[1]) return false;
      // The first half comes out first.
      pending.push_back(second);
      pending.push_back(first);
    }
  }
  return true;
}

}  // namespace prepare
