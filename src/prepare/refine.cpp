#include "prepare/refine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "format/plain_number.h"

namespace prepare {

RefinedCount count_refined(std::span<const geometry::Triangle> facets, double max_side,
                           std::uint64_t cap) {
  RefinedCount count;
  const bool whole =
      refine_facets(facets, max_side, [&](const geometry::Triangle&, double longest) {
        if (longest > count.longest_side) count.longest_side = longest;
        return ++count.facets <= cap;
      });
  // Stopped within the cap: a side that cannot be cut.
  if (!whole && count.facets <= cap) count.facets = std::numeric_limits<std::uint64_t>::max();
  return count;
}

namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

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
  if (least <= log2_cap + 1.0) {
    const RefinedCount exact = count_refined(facets, max_side, 2 * cap);
    if (exact.facets <= 2 * cap) {
      size.facets = static_cast<double>(exact.facets);
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
    const RefinedCount coarse = count_refined(facets, side, cap);
    if (coarse.facets <= cap) {
      size.facets = std::ldexp(static_cast<double>(coarse.facets), 2 * doublings);
      size.log2_facets = std::log2(static_cast<double>(coarse.facets)) + 2.0 * doublings;
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

}  // namespace

// Frequencies are looked for down to this one; a model that needs a lower
// one is told that none above it fits.
constexpr double LOWEST_FREQUENCY = 1e-300;

double highest_fitting_frequency(std::span<const geometry::Triangle> facets, double sound_speed,
                                 double elements_per_wavelength, double frequency,
                                 const RefinementSize& size, std::uint64_t cap) {
  // Refinement at a lower frequency is a part of the one at a higher, so
  // the count only grows with the frequency.
  const double log2_cap = std::log2(static_cast<double>(cap));
  // A limit beyond the largest double cuts nothing. The lower bound turns
  // most limits that cannot fit away without counting.
  const auto fits = [&](double f) {
    const double side = sound_speed / f / elements_per_wavelength;
    return !std::isnan(side) && log2_least_refined(facets, side) <= log2_cap &&
           count_refined(facets, side, cap).facets <= cap;
  };
  if (!std::isfinite(size.log2_facets) || !(size.facets > 0.0)) return 0.0;
  // The count grows about as the square of the frequency: a first guess,
  // then a bracket [fitting, too_high] around the boundary, then halving
  // until it is narrower than the 4 digits shown.
  constexpr double BRACKET = 1.02;
  const double ratio = std::isfinite(size.facets)
                           ? std::sqrt(static_cast<double>(cap) / size.facets)
                           : std::exp2((log2_cap - size.log2_facets) / 2.0);
  const double guess = std::fmax(frequency * ratio, LOWEST_FREQUENCY);
  double fitting = guess;
  double too_high = frequency;
  if (fits(guess)) {
    while (fitting * BRACKET < frequency && fits(fitting * BRACKET)) fitting *= BRACKET;
    too_high = std::fmin(fitting * BRACKET, frequency);
  } else {
    too_high = guess;
    fitting = guess / BRACKET;
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
  return four_digits_below(fitting);
}

}  // namespace prepare
