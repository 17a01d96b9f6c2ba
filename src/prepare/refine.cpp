#include "prepare/refine.h"

#include <array>
#include <cmath>
#include <limits>

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

RefinementSize size_refinement(std::span<const geometry::Triangle> facets, double max_side,
                               std::uint64_t cap) {
  RefinementSize size;
  const RefinedCount exact = count_refined(facets, max_side, 2 * cap);
  if (exact.facets <= 2 * cap) {
    size.facets = static_cast<double>(exact.facets);
    return size;
  }
  // Far beyond the cap: counted at a coarser limit and scaled, since
  // halving the limit makes about four pieces of each (two cuts of a piece
  // give four of half its size).
  size.exact = false;
  double side = max_side;
  double scale = 1.0;
  for (;;) {
    side *= 2.0;
    scale *= 4.0;
    if (!std::isfinite(side)) {
      size.facets = std::numeric_limits<double>::infinity();
      return size;
    }
    const RefinedCount coarse = count_refined(facets, side, cap);
    if (coarse.facets <= cap) {
      size.facets = static_cast<double>(coarse.facets) * scale;
      return size;
    }
  }
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

double highest_fitting_frequency(std::span<const geometry::Triangle> facets, double sound_speed,
                                 double elements_per_wavelength, double frequency,
                                 const RefinementSize& size, std::uint64_t cap) {
  // Refinement at a lower frequency is a part of the one at a higher, so
  // the count only grows with the frequency.
  const auto fits = [&](double f) {
    const double side = sound_speed / f / elements_per_wavelength;
    return std::isfinite(side) && count_refined(facets, side, cap).facets <= cap;
  };
  if (!std::isfinite(size.facets) || !(size.facets > 0.0)) return 0.0;
  // The count grows about as the square of the frequency: a first guess,
  // then a bracket [fitting, too_high] around the boundary, then halving
  // until it is narrower than the 4 digits shown.
  constexpr double BRACKET = 1.02;
  const double guess = frequency * std::sqrt(static_cast<double>(cap) / size.facets);
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
      if (!(fitting > 1e-300)) return 0.0;
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
