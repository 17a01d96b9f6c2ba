#include "prepare/refine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "format/plain_number.h"
#include "geometry/facet_soup.h"

namespace prepare {

double shortest_half_side(std::span<const geometry::Triangle> facets) {
  const std::optional<geometry::Box> box = geometry::finite_box(facets);
  return box.has_value() ? MIN_HALF_TOLERANCES * geometry::merge_tolerance(*box) : 0.0;
}

RefinedCount count_refined(std::span<const geometry::Triangle> facets, double max_side,
                           std::uint64_t cap) {
  RefinedCount count;
  const bool whole =
      refine_facets(facets, max_side, [&](const geometry::Triangle&, double longest) {
        if (longest > count.longest_side) count.longest_side = longest;
        return ++count.facets <= cap;
      });
  // Stopped within the cap: a side that cannot be cut.
  if (!whole && count.facets <= cap) {
    count.facets = std::numeric_limits<std::uint64_t>::max();
    count.below_resolution = true;
  }
  return count;
}

namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

// The count of refinement taken from the lengths of the pieces' sides
// alone, without their corners: a piece with sides a >= b >= c (a above
// the limit) is cut into two with sides a / 2, the median
// m = sqrt(2b^2 + 2c^2 - a^2) / 2, and b or c. Congruent pieces give the
// same count, and longest-edge bisection makes few shapes of each size
// (all the pieces of a right isosceles facet are right isosceles), so
// counting once per distinct shape and size takes microseconds where the
// pieces number millions. Lengths are kept to 40 bits, so that the same
// shape reached by different cuts is recognised as one.
//
// The corners' count differs only where rounding changes a decision: a
// piece's longest side within rounding of the limit, or two longest sides
// within rounding of each other (equal ones give mirror images, which
// count the same). Rounding moves a length by less than
// - 2^-40 for keeping it, and a few units in the last place for the
//   median (its cancellation is at most (a / m)^2 <= 10^6, pieces thinner
//   than that are not confirmed), per cut, and
// - half a unit in the last place of the largest coordinate for each
//   corner, per cut, in the corners' own refinement (each midpoint rounds
//   once, and the error of its ends carries over halved twice at most).
// When every decision lies further from the limit than twice the sum of
// these over the deepest cut, the count is the corners' count exactly:
// confirmed. Otherwise it is an estimate, for searching, and the pieces are
// counted where it matters.
class ShapeCount {
 public:
  // `shortest_half` as shortest_half_side; `coordinate_ulp` the unit in the
  // last place of the largest coordinate. The count is saturated at `cap`
  // + 1, or BELOW_RESOLUTION where a side must be cut and the limit is too
  // fine for the coordinates.
  ShapeCount(double max_side, double shortest_half, double coordinate_ulp, std::uint64_t cap)
      : max_side_(max_side),
        shortest_half_(shortest_half),
        relative_ulp_(coordinate_ulp / max_side),
        above_(cap + 1) {}

  static constexpr std::uint64_t BELOW_RESOLUTION = std::numeric_limits<std::uint64_t>::max();

  // The count for all of `facets`; nullopt when the shapes are too many to
  // remember (the facets are many and unlike), and only counting the
  // pieces tells.
  std::optional<std::uint64_t> count(std::span<const geometry::Triangle> facets) {
    std::uint64_t total = 0;
    for (const geometry::Triangle& facet : facets) {
      std::array<double, 3> sides{};
      for (std::size_t k = 0; k < 3; ++k) {
        sides[k] =
            kept(geometry::length(geometry::difference(facet[(k + 1) % 3], facet[k])) / max_side_);
      }
      std::sort(sides.begin(), sides.end(), std::greater<>());
      // A side that overflows, or a limit that vanishes next to it.
      if (!std::isfinite(sides[0])) return above_;
      const Counted counted = count_piece(sides);
      deepest_ = std::max(deepest_, counted.cuts);
      total = std::min(above_, total + counted.pieces);
      if (below_resolution_) return BELOW_RESOLUTION;
      if (shapes_.size() > MAX_SHAPES) return std::nullopt;
      if (total >= above_) return above_;
    }
    return total;
  }

  // Whether the last count is the corners' count (see above).
  [[nodiscard]] bool confirmed() const {
    constexpr double PER_CUT = 0x1p-40 + 1e-9;
    const double moved = static_cast<double>(deepest_ + 1) * (PER_CUT + 4.0 * relative_ulp_);
    return !unsure_ && closest_ > 2.0 * moved;
  }

 private:
  // Shapes remembered at most: a few megabytes.
  static constexpr std::size_t MAX_SHAPES = std::size_t{1} << 16;
  // Pieces thinner than this (shortest side to longest) are not confirmed.
  static constexpr double THINNEST = 1e-3;

  struct Counted {
    std::uint64_t pieces = 0;
    int cuts = 0;  // the deepest, below the piece
  };

  // `length` to 40 significant bits, rounded to nearest (lengths are
  // positive or zero, so the bits of the double order as the values do).
  static double kept(double length) {
    constexpr std::uint64_t DROPPED = 12;
    auto bits = std::bit_cast<std::uint64_t>(length);
    bits = (bits + (std::uint64_t{1} << (DROPPED - 1))) & ~((std::uint64_t{1} << DROPPED) - 1);
    return std::bit_cast<double>(bits);
  }

  struct ShapeHash {
    std::size_t operator()(const std::array<double, 3>& sides) const {
      std::uint64_t mixed = 0;
      for (const double side : sides) {
        mixed = (mixed ^ std::bit_cast<std::uint64_t>(side)) * 0x9E3779B97F4A7C15u;
      }
      return static_cast<std::size_t>(mixed ^ (mixed >> 29));
    }
  };

  // The pieces of one piece, sides longest first and in units of the limit.
  Counted count_piece(const std::array<double, 3>& sides) {
    closest_ = std::min(closest_, std::fabs(sides[0] - 1.0));
    if (!(sides[0] > 1.0)) return {1, 0};
    if (max_side_ / 2 < shortest_half_) {
      below_resolution_ = true;
      return {above_, 0};
    }
    if (const auto known = shapes_.find(sides); known != shapes_.end()) return known->second;
    // A near tie of the longest sides, or a thin piece.
    if ((sides[0] != sides[1] && sides[0] - sides[1] < 1e-6 * sides[0]) ||
        !(sides[2] >= THINNEST * sides[0])) {
      unsure_ = true;
    }
    const double half = sides[0] / 2;
    const double squared_median =
        (2 * sides[1] * sides[1] + 2 * sides[2] * sides[2] - sides[0] * sides[0]) / 4;
    const double median = kept(std::sqrt(std::fmax(0.0, squared_median)));
    Counted counted;
    for (const double third : {sides[1], sides[2]}) {
      std::array<double, 3> half_sides = {half, median, third};
      std::sort(half_sides.begin(), half_sides.end(), std::greater<>());
      const Counted half_counted = count_piece(half_sides);
      counted.pieces = std::min(above_, counted.pieces + half_counted.pieces);
      counted.cuts = std::max(counted.cuts, half_counted.cuts + 1);
      // Beyond the cap the rest is not needed (the count is kept
      // saturated, which is what it is for any piece with this shape).
      if (below_resolution_ || counted.pieces >= above_) break;
    }
    if (!below_resolution_) shapes_.emplace(sides, counted);
    return counted;
  }

  double max_side_;
  double shortest_half_;
  double relative_ulp_;
  std::uint64_t above_;
  bool below_resolution_ = false;
  bool unsure_ = false;
  double closest_ = INFINITE;
  int deepest_ = 0;
  std::unordered_map<std::array<double, 3>, Counted, ShapeHash> shapes_;
};

// The unit in the last place of the largest finite coordinate.
double largest_coordinate_ulp(std::span<const geometry::Triangle> facets) {
  const std::optional<geometry::Box> box = geometry::finite_box(facets);
  if (!box.has_value()) return 0.0;
  double largest = 0.0;
  for (std::size_t axis = 0; axis < 3; ++axis) {
    largest = std::max({largest, std::fabs(box->lowest[axis]), std::fabs(box->highest[axis])});
  }
  return std::nextafter(largest, INFINITE) - largest;
}

// What a count of refinement needs of the facets beside the limit.
struct CountingScale {
  double shortest_half = 0.0;
  double coordinate_ulp = 0.0;
};

CountingScale counting_scale(std::span<const geometry::Triangle> facets) {
  return {shortest_half_side(facets), largest_coordinate_ulp(facets)};
}

// The count of refinement to `max_side`, saturated at `cap` + 1, and above
// any cap for a limit too fine for the coordinates: from the shapes where
// they are few, else by counting the pieces. With `exact`, a count of the
// shapes that is not confirmed is counted again by the pieces.
std::uint64_t shapes_count(std::span<const geometry::Triangle> facets, double max_side,
                           const CountingScale& scale, std::uint64_t cap, bool exact) {
  ShapeCount shapes(max_side, scale.shortest_half, scale.coordinate_ulp, cap);
  const std::optional<std::uint64_t> counted = shapes.count(facets);
  if (counted.has_value() && (!exact || shapes.confirmed())) return *counted;
  return count_refined(facets, max_side, cap).facets;
}

// log2(2^a + 2^b), without forming either power.
double log2_sum(double a, double b) {
  if (a < b) std::swap(a, b);
  if (b == -INFINITE) return a;
  return a + std::log2(1.0 + std::exp2(b - a));
}

// A lower bound taken a little lower, so that rounding in it never puts it
// above a true count.
constexpr double ROUNDING_MARGIN = 0x1p-20;

}  // namespace

double log2_least_refined(std::span<const geometry::Triangle> facets, double max_side) {
  // Twice the area of an equilateral triangle of side 1, the largest of
  // any triangle whose sides are at most 1.
  const double largest_twice_area = std::sqrt(3.0) / 2.0;
  const double log2_side = std::log2(max_side);
  double total = -INFINITE;
  for (const geometry::Triangle& facet : facets) {
    std::array<geometry::Point, 3> sides{};
    double largest = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
      sides[k] = geometry::difference(facet[(k + 1) % 3], facet[k]);
      largest = std::max(largest, geometry::largest_magnitude(sides[k]));
    }
    if (!std::isfinite(largest)) return INFINITE;
    double least = 0.0;  // one piece
    if (largest > 0.0) {
      // Divided by a power of two, which is exact, so that neither the
      // lengths nor the area can overflow or vanish.
      const int exponent = std::ilogb(largest);
      double longest = 0.0;
      for (geometry::Point& side : sides) {
        for (double& component : side) component = std::ldexp(component, -exponent);
        longest = std::max(longest, geometry::length(side));
      }
      const double twice_area = geometry::length(geometry::cross(sides[0], sides[1]));
      const double scale = static_cast<double>(exponent) - log2_side;
      const double by_side = std::log2(longest) + scale;
      const double by_area = std::log2(twice_area / largest_twice_area) + 2.0 * scale;
      least = std::max({0.0, by_side, by_area});
    }
    total = log2_sum(total, least);
  }
  return total - ROUNDING_MARGIN;
}

RefinementSize size_refinement(std::span<const geometry::Triangle> facets, double max_side,
                               std::uint64_t cap) {
  RefinementSize size;
  const double log2_cap = std::log2(static_cast<double>(cap));
  const double least = log2_least_refined(facets, max_side);
  if (!std::isfinite(least)) {
    size.exact = false;
    size.facets = INFINITE;
    size.log2_facets = INFINITE;
    return size;
  }
  const CountingScale scale = counting_scale(facets);
  if (least <= log2_cap + 1.0) {
    const std::uint64_t exact = shapes_count(facets, max_side, scale, 2 * cap, true);
    if (exact <= 2 * cap) {
      size.facets = static_cast<double>(exact);
      size.log2_facets = std::log2(size.facets);
      return size;
    }
  }
  // Far beyond the cap: counted at a coarser limit and scaled, since
  // halving the limit makes about four pieces of each (two cuts of a piece
  // give four of half its size). The coarsest limit tried is the finest at
  // which the lower bound allows a count within the cap, so the count never
  // runs through the pieces of a limit that cannot fit.
  size.exact = false;
  int doublings = std::max(1, static_cast<int>(std::ceil((least - log2_cap) / 2.0)));
  for (;; ++doublings) {
    const double side = std::ldexp(max_side, doublings);
    if (!std::isfinite(side)) {
      size.facets = INFINITE;
      size.log2_facets = INFINITE;
      return size;
    }
    const std::uint64_t coarse = shapes_count(facets, side, scale, cap, false);
    if (coarse <= cap) {
      size.facets = std::ldexp(static_cast<double>(coarse), 2 * doublings);
      size.log2_facets = std::log2(static_cast<double>(coarse)) + 2.0 * doublings;
      return size;
    }
  }
}

std::string count_from_log2(double log2_count) {
  const double log10_count = log2_count * std::log10(2.0);
  double exponent = std::floor(log10_count);
  double digits = std::round(std::pow(10.0, log10_count - exponent) * 100.0) / 100.0;
  if (digits >= 10.0) {
    digits /= 10.0;
    exponent += 1.0;
  }
  return format::general_text(digits, 3) + "e+" + format::fixed_text(exponent, 0);
}

namespace {

// `value` rounded down to 4 significant digits.
double four_digits_below(double value) {
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 3.0);
  double digits = std::floor(value / unit);
  while (digits * unit > value) digits -= 1.0;
  return digits * unit;
}

// The next 4-digit value above one of four_digits_below.
double four_digits_above(double value) {
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 3.0);
  return four_digits_below((std::round(value / unit) + 1.5) * unit);
}

// Frequencies are looked for down to this one; a model that needs a lower
// one is told that none above it fits.
constexpr double LOWEST_FREQUENCY = 1e-300;

// The highest frequency below `frequency` (which does not fit) at which
// `fits` holds, to within 2e-5 and starting from `guess`; 0 when none
// above LOWEST_FREQUENCY does. `fits` must only turn false as the
// frequency grows.
template <typename Fits>
double highest_where(Fits&& fits, double guess, double frequency) {
  // The count grows about as the square of the frequency: a first guess,
  // then a bracket [fitting, too_high] around the boundary, then halving
  // until it is narrower than the 4 digits shown.
  constexpr double BRACKET = 1.02;
  double fitting = std::fmin(guess, frequency / BRACKET);
  double too_high = frequency;
  if (fits(fitting)) {
    while (fitting * BRACKET < frequency && fits(fitting * BRACKET)) fitting *= BRACKET;
    too_high = std::fmin(fitting * BRACKET, frequency);
  } else {
    too_high = fitting;
    fitting /= BRACKET;
    while (!fits(fitting)) {
      too_high = fitting;
      fitting /= BRACKET;
      if (!(fitting > LOWEST_FREQUENCY)) return 0.0;
    }
  }
  while (too_high / fitting > 1.0 + 2e-5) {
    const double middle = std::sqrt(fitting) * std::sqrt(too_high);
    if (fits(middle)) {
      fitting = middle;
    } else {
      too_high = middle;
    }
  }
  return fitting;
}

}  // namespace

double highest_fitting_frequency(std::span<const geometry::Triangle> facets, double sound_speed,
                                 double elements_per_wavelength, double frequency,
                                 const RefinementSize& size, std::uint64_t cap) {
  // Refinement at a lower frequency is a part of the one at a higher, so
  // the count only grows with the frequency.
  const double log2_cap = std::log2(static_cast<double>(cap));
  const CountingScale scale = counting_scale(facets);
  // A limit beyond the largest double cuts nothing. The lower bound turns
  // most limits that cannot fit away without counting.
  const auto side_at = [&](double f) { return sound_speed / f / elements_per_wavelength; };
  const auto within_bound = [&](double side) {
    return !std::isnan(side) && log2_least_refined(facets, side) <= log2_cap;
  };
  // The search runs on the count from the pieces' shapes; the answer is
  // then confirmed, and moved where needed, by the exact count (the shapes'
  // where it is confirmed, else the pieces').
  const auto fits_with = [&](double f, bool exact) {
    const double side = side_at(f);
    return within_bound(side) && shapes_count(facets, side, scale, cap, exact) <= cap;
  };
  const auto seems_to_fit = [&](double f) { return fits_with(f, false); };
  const auto fits = [&](double f) { return fits_with(f, true); };
  if (!std::isfinite(size.log2_facets) || !(size.facets > 0.0)) return 0.0;
  // The count falls about as the square of the frequency; where the pieces
  // are too small for the coordinates, the limit must grow to twice the
  // shortest half at least.
  const double ratio = std::isfinite(size.facets)
                           ? std::sqrt(static_cast<double>(cap) / size.facets)
                           : std::exp2((log2_cap - size.log2_facets) / 2.0);
  const double resolved = side_at(frequency) / (2 * scale.shortest_half);
  const double guess = std::fmax(frequency * std::fmin(ratio, resolved), LOWEST_FREQUENCY);
  const double seeming = highest_where(seems_to_fit, guess, frequency);
  if (seeming == 0.0) return 0.0;
  double found = four_digits_below(seeming);
  // The shapes' count differs from the pieces' only where a piece lies
  // within rounding of the limit: a step of the fourth digit or two.
  constexpr int CONFIRMING_STEPS = 8;
  for (int step = 0; step < CONFIRMING_STEPS; ++step) {
    if (!fits(found)) {
      found = four_digits_below(std::nextafter(found, 0.0));
      if (!(found > LOWEST_FREQUENCY)) return 0.0;
      continue;
    }
    const double above = four_digits_above(found);
    if (above < frequency && fits(above)) {
      found = above;
      continue;
    }
    return found;
  }
  // Far off: the search again, on the count of the pieces.
  const double fitting = highest_where(fits, found, frequency);
  return fitting > 0.0 ? four_digits_below(fitting) : 0.0;
}

}  // namespace prepare
