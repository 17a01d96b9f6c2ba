#include "prepare/remesh_step.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "format/plain_number.h"
#include "prepare/refine.h"

namespace prepare {
namespace {
// Bisection's count is taken exactly up to this many equilateral
// estimates; above it the remesh, at about two, is smaller anyway.
constexpr double BISECTION_COUNT_CAP = 8.0;
}  // namespace

double default_deviation(double max_side, std::span<const geometry::Triangle> facets) {
  const std::optional<geometry::Box> box = geometry::finite_box(facets);
  if (!box) return max_side / 25.0;
  const double diagonal = geometry::length(geometry::difference(box->highest, box->lowest));
  return std::min(max_side / 25.0, diagonal / 1000.0);
}

double expected_remesh_facets(const geometry::ShapeFigures& before, double max_side) {
  // Flat parts come out at about twice the equilateral estimate; curved
  // ones finer, which the check after the remesh catches.
  return 2.2 * geometry::equilateral_estimate(before.area, max_side);
}

std::string too_large_remesh(double facets, double log2_facets, std::uint64_t limit,
                             double finest_side, const PrepareOptions& options) {
  const bool finite = std::isfinite(facets);
  const double ratio = finite
                           ? std::sqrt(static_cast<double>(limit) / facets)
                           : std::exp2((std::log2(static_cast<double>(limit)) - log2_facets) / 2.0);
  // The limit is sound speed / frequency / K: the finest side gives the
  // highest frequency the coordinates allow.
  const double resolved = options.max_side() / finest_side;
  double fitting = options.frequency_hz * std::fmin(ratio, resolved);
  if (!(fitting > 1e-300)) {
    return "remeshing to edges of at most " + format::general_text(options.max_side(), 5) +
           " gives about " + count_from_log2(log2_facets) + " facets, more than the " +
           std::to_string(limit) + " stldeck can convert; no frequency above 1e-300 Hz fits";
  }
  const double unit = std::pow(10.0, std::floor(std::log10(fitting)) - 3.0);
  fitting = std::floor(fitting / unit) * unit;
  // Four significant digits, without an exponent.
  const std::string frequency =
      fitting >= 1000.0 ? format::fixed_text(fitting, 0) : format::general_text(fitting, 4);
  return "remeshing to edges of at most " + format::general_text(options.max_side(), 5) +
         " gives about " + (finite ? format::fixed_text(facets, 0) : count_from_log2(log2_facets)) +
         " facets, more than the " + std::to_string(limit) +
         " stldeck can convert; the highest frequency that fits is about " + frequency + " Hz";
}

RemeshStep remesh_for_frequency(std::span<const geometry::Triangle> facets,
                                const PrepareOptions& options, ProgressLine& progress) {
  RemeshStep step;
  step.before = geometry::measure_shapes(facets);
  const double max_side = options.max_side();
  step.equilateral_estimate = geometry::equilateral_estimate(step.before.area, max_side);
  step.max_deviation =
      options.max_deviation > 0.0 ? options.max_deviation : default_deviation(max_side, facets);
  // Bisection's count first (counting stops above the cap, a few times
  // the remesh's usual count): the remesh is worth keeping only below it.
  const auto cap = static_cast<std::uint64_t>(BISECTION_COUNT_CAP * step.equilateral_estimate) + 64;
  RefinedCount bisected = count_refined(facets, max_side, cap);
  const geometry::RemeshTargets targets{
      .max_side = max_side,
      .max_deviation = step.max_deviation,
      .feature_angle_degrees = options.feature_angle_degrees,
      .facet_budget = bisected.facets <= cap ? static_cast<std::int64_t>(bisected.facets) : 0};
  geometry::Remeshed out = geometry::remesh(
      facets, targets, [&progress](std::string_view phase) { progress.begin(phase); });
  step.status = out.status;
  if (out.status != geometry::RemeshStatus::remeshed) return step;
  step.facets = std::move(out.triangles);
  step.after = geometry::measure_shapes(step.facets);
  step.largest_deviation = out.largest_deviation;
  step.sharp_edges = out.sharp_edges_in;
  step.sharp_edges_kept = out.sharp_edges_kept;

  if (bisected.facets > cap) bisected = count_refined(facets, max_side, step.facets.size());
  step.bisection_facets = bisected.facets;
  step.declined = bisected.facets < step.facets.size() ||
                  step.after.smallest_angle_degrees < step.before.smallest_angle_degrees / 2;
  return step;
}

}  // namespace prepare
