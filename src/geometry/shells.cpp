#include "geometry/shells.h"

#include <cmath>
#include <limits>

namespace geometry {
namespace {

// The corner less the origin, divided by 2^exponent. Scaling by a power of
// two commutes with rounding, so this is (p - o) / 2^exponent rounded once,
// even where p - o itself would overflow.
Point scaled_offset(const Point& p, const Point& o, int exponent) {
  return {std::ldexp(p[0], -exponent) - std::ldexp(o[0], -exponent),
          std::ldexp(p[1], -exponent) - std::ldexp(o[1], -exponent),
          std::ldexp(p[2], -exponent) - std::ldexp(o[2], -exponent)};
}

}  // namespace

std::vector<Shell> measure_shells(std::span<const Triangle> triangles,
                                  const EdgeTopology& topology) {
  std::vector<Shell> shells(topology.shell_count);
  // Each shell's extent about its origin, the first corner of its first
  // facet; infinite where a difference overflows.
  std::vector<double> extent(topology.shell_count, 0.0);
  std::vector<bool> seen(topology.shell_count, false);
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s == NO_SHELL) continue;
    Shell& shell = shells[s];
    if (!seen[s]) {
      seen[s] = true;
      shell.first_facet = static_cast<std::uint32_t>(f);
      shell.closed = true;
    }
    ++shell.facets;
    for (const SideKind kind : topology.sides[f]) {
      if (kind != SideKind::shared) shell.closed = false;
    }
    const Point& o = triangles[shell.first_facet][0];
    for (const Point& p : triangles[f]) {
      for (std::size_t k = 0; k < 3; ++k) extent[s] = std::fmax(extent[s], std::fabs(p[k] - o[k]));
    }
  }
  // The scale: a power of two above the extent, so that every offset is
  // below one. An overflowing extent takes the largest.
  std::vector<int> exponent(topology.shell_count, 0);
  for (std::size_t s = 0; s < shells.size(); ++s) {
    if (extent[s] > 0.0) {
      exponent[s] = std::isfinite(extent[s]) ? std::ilogb(extent[s]) + 1
                                             : std::numeric_limits<double>::max_exponent;
    }
  }
  // Sums of six times the volume and twice the area, on scaled offsets, and
  // the sum of the magnitudes of the volume's products, which bounds the
  // rounding of its sum.
  std::vector<double> six_volume(topology.shell_count, 0.0);
  std::vector<double> magnitude(topology.shell_count, 0.0);
  std::vector<double> twice_area_sum(topology.shell_count, 0.0);
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const std::uint32_t s = topology.shell_of_facet[f];
    if (s == NO_SHELL) continue;
    const Point& o = triangles[shells[s].first_facet][0];
    const Triangle t = {scaled_offset(triangles[f][0], o, exponent[s]),
                        scaled_offset(triangles[f][1], o, exponent[s]),
                        scaled_offset(triangles[f][2], o, exponent[s])};
    const Point& a = t[0];
    const Point& b = t[1];
    const Point& c = t[2];
    const double products[6] = {a[0] * b[1] * c[2],  -a[0] * b[2] * c[1], a[1] * b[2] * c[0],
                                -a[1] * b[0] * c[2], a[2] * b[0] * c[1],  -a[2] * b[1] * c[0]};
    six_volume[s] += a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
                     a[2] * (b[0] * c[1] - b[1] * c[0]);
    for (const double product : products) magnitude[s] += std::fabs(product);
    twice_area_sum[s] += twice_area(t);
  }
  // Each product and each sum rounds with a relative error of at most one
  // unit of 2^-53: a sum within 16 units of the magnitudes is no volume.
  constexpr double NOISE = 16 * std::numeric_limits<double>::epsilon();
  for (std::size_t s = 0; s < shells.size(); ++s) {
    Shell& shell = shells[s];
    if (std::fabs(six_volume[s]) > NOISE * magnitude[s])
      shell.orientation = six_volume[s] > 0 ? 1 : -1;
    shell.volume = std::ldexp(six_volume[s] / 6, 3 * exponent[s]);
    shell.area = std::ldexp(twice_area_sum[s] / 2, 2 * exponent[s]);
  }
  return shells;
}

}  // namespace geometry
