#include "prepare/refine.h"

#include <array>
#include <cmath>
#include <limits>

namespace prepare {
namespace {

// The length of the side from a to b, exact to rounding at any scale;
// infinite when it is longer than the largest double.
double side_length(const reading::Corner& a, const reading::Corner& b) {
  const double dx = b[0] - a[0];
  const double dy = b[1] - a[1];
  const double dz = b[2] - a[2];
  return std::hypot(dx, dy, dz);
}

}  // namespace

reading::Corner midpoint(const reading::Corner& a, const reading::Corner& b) {
  reading::Corner m{};
  for (std::size_t k = 0; k < 3; ++k) {
    const double sum = a[k] + b[k];
    // Halving each first would lose the last bit of subnormals; it is
    // needed only where the sum overflows.
    m[k] = std::isfinite(sum) ? sum * 0.5 : a[k] * 0.5 + b[k] * 0.5;
  }
  return m;
}

int side_to_cut(const reading::FacetCorners& facet, double max_side, double& longest) {
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

void cut_facet(const reading::FacetCorners& facet, int side, reading::FacetCorners& first,
               reading::FacetCorners& second) {
  const auto k = static_cast<std::size_t>(side);
  const reading::Corner& a = facet[k];
  const reading::Corner& b = facet[(k + 1) % 3];
  const reading::Corner& c = facet[(k + 2) % 3];
  const reading::Corner m = midpoint(a, b);
  first = {a, m, c};
  second = {m, b, c};
}

RefinedCount count_refined(std::span<const reading::FacetCorners> facets, double max_side,
                           std::uint64_t cap) {
  RefinedCount count;
  std::vector<reading::FacetCorners> pending;
  for (const reading::FacetCorners& facet : facets) {
    pending.push_back(facet);
    while (!pending.empty()) {
      const reading::FacetCorners piece = pending.back();
      pending.pop_back();
      double longest = 0.0;
      const int side = side_to_cut(piece, max_side, longest);
      if (side < 0) {
        count.longest_side = std::fmax(count.longest_side, longest);
        if (++count.facets > cap) return count;
        continue;
      }
      reading::FacetCorners first{};
      reading::FacetCorners second{};
      cut_facet(piece, side, first, second);
      // A side so short next to its coordinates that its midpoint is one of
      // its ends cannot be cut: no count of pieces reaches the limit.
      if (first[1] == first[0] || second[0] == second[1]) {
        count.facets = std::numeric_limits<std::uint64_t>::max();
        return count;
      }
      pending.push_back(second);
      pending.push_back(first);
    }
  }
  return count;
}

RefinementSize size_refinement(std::span<const reading::FacetCorners> facets, double max_side,
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

double highest_fitting_frequency(std::span<const reading::FacetCorners> facets, double sound_speed,
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
