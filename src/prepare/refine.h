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

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "geometry/triangle.h"

namespace prepare {

struct RefinedCount {
  std::uint64_t facets = 0;   // exact when at most the cap given, else above it
  double longest_side = 0.0;  // the longest side of the pieces (when within the cap)
  // Counting stopped at a side that cannot be cut (see shortest_half_side);
  // `facets` is then above any cap.
  bool below_resolution = false;
};

// The shortest half a side may be cut into: MIN_HALF_TOLERANCES times the
// distance within which the model check welds two corners into one vertex
// (geometry::merge_tolerance of the facets' box, which refinement never
// changes). Far from the origin that distance is a few units in the last
// place of the coordinates: cut any finer, the new corners would be welded
// to their neighbours, or rounded off the line they were cut on, and the
// check would find degenerate facets and open edges where the model was
// closed. 0 without a finite facet.
inline constexpr double MIN_HALF_TOLERANCES = 4.0;
double shortest_half_side(std::span<const geometry::Triangle> facets);

// The facets refinement to `max_side` gives; counting stops as soon as the
// count is above `cap`. Takes as long as the pieces it counts, without
// keeping any. A limit below what the coordinates can resolve (half of it
// shorter than shortest_half_side, and a side to cut) counts as above any
// cap, with `below_resolution` set.
RefinedCount count_refined(std::span<const geometry::Triangle> facets, double max_side,
                           std::uint64_t cap);

// Hands every piece of the refinement to `take(piece, longest_side)`,
// facet by facet, pieces in a fixed order. `take` returns false to stop.
// Returns false when stopped, or when a side cannot be cut (a limit below
// what the coordinates resolve: half of it is shorter than
// shortest_half_side, or a midpoint rounds to one of its side's ends).
// Every side cut is longer than the limit, so every half is at least the
// shortest half.
template <typename Take>
bool refine_facets(std::span<const geometry::Triangle> facets, double max_side, Take&& take);

// The base-2 logarithm of a count no refinement to `max_side` goes below,
// taken from each facet's area and longest side without cutting it, so it
// is quick and finite however far the count lies beyond any number: no
// piece is larger than an equilateral triangle of side `max_side`, and the
// pieces along the longest side cover it. Infinite when a side is (its
// length overflows a double).
double log2_least_refined(std::span<const geometry::Triangle> facets, double max_side);

// The count of facets refinement to `max_side` gives (an estimate when the
// exact count would take too long), for a refinement refused as too large.
struct RefinementSize {
  double facets = 0.0;  // exact up to 2 * cap, else about; infinite beyond a double
  bool exact = true;
  double log2_facets = 0.0;  // log2(facets), finite also where `facets` is not
};
RefinementSize size_refinement(std::span<const geometry::Triangle> facets, double max_side,
                               std::uint64_t cap);

// A count known by its base-2 logarithm, as printf's "%.3g" shows it
// ("4.12e+603"): for counts beyond the largest double.
std::string count_from_log2(double log2_count);

// The highest frequency with 4 significant digits (rounded down) at which
// refinement to wavelength / K gives at most `cap` facets, wavelength =
// sound_speed / frequency; 0 when none above 1e-300 Hz does.
// `size` is the size at `frequency`, which is too large.
double highest_fitting_frequency(std::span<const geometry::Triangle> facets, double sound_speed,
                                 double elements_per_wavelength, double frequency,
                                 const RefinementSize& size, std::uint64_t cap);

// The index (0, 1, 2) of the side of `facet` to cut, side k running from
// corner k to corner k + 1: its longest side (the first of equal ones, so
// that the same piece is always cut the same way); -1 when that is within
// `max_side`. `longest` is set to its length.
inline int side_to_cut(const geometry::Triangle& facet, double max_side, double& longest) {
  const geometry::LongestSide found = geometry::longest_side_of(facet);
  longest = found.length;
  return found.length > max_side ? static_cast<int>(found.side) : -1;
}

// The two halves of `facet` cut at the midpoint m of side k (from corner
// k = a to corner k + 1 = b, c opposite): (a, m, c) and (m, b, c), both
// with the facet's orientation.
inline void cut_facet(const geometry::Triangle& facet, int side, geometry::Triangle& first,
                      geometry::Triangle& second) {
  const auto k = static_cast<std::size_t>(side);
  const geometry::Point& a = facet[k];
  const geometry::Point& b = facet[(k + 1) % 3];
  const geometry::Point& c = facet[(k + 2) % 3];
  const geometry::Point m = geometry::midpoint(a, b);
  first = {a, m, c};
  second = {m, b, c};
}

template <typename Take>
bool refine_facets(std::span<const geometry::Triangle> facets, double max_side, Take&& take) {
  const double shortest_half = shortest_half_side(facets);
  std::vector<geometry::Triangle> pending;
  for (const geometry::Triangle& facet : facets) {
    pending.push_back(facet);
    while (!pending.empty()) {
      const geometry::Triangle piece = pending.back();
      pending.pop_back();
      double longest = 0.0;
      const int side = side_to_cut(piece, max_side, longest);
      if (side < 0) {
        if (!take(piece, longest)) return false;
        continue;
      }
      // Pieces of the limit would be too small for the coordinates to hold
      // their corners apart: no refinement reaches it.
      if (max_side / 2 < shortest_half) return false;
      geometry::Triangle first{};
      geometry::Triangle second{};
      cut_facet(piece, side, first, second);
      if (first[1] == first[0] || second[0] == second[1]) return false;
      // The first half comes out first.
      pending.push_back(second);
      pending.push_back(first);
    }
  }
  return true;
}

}  // namespace prepare
