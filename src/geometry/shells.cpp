#include "geometry/shells.h"

#include <cmath>

namespace geometry {
namespace {

Point minus(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

}  // namespace

std::vector<Shell> measure_shells(std::span<const Triangle> triangles,
                                  const EdgeTopology& topology) {
  std::vector<Shell> shells(topology.shell_count);
  // Sums of six times the volume and twice the area, scaled once at the
  // end: a unit cube's volume comes out as exactly 1.
  std::vector<double> six_volume(topology.shell_count, 0.0);
  std::vector<double> twice_area_sum(topology.shell_count, 0.0);
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
    const Point a = minus(triangles[f][0], o);
    const Point b = minus(triangles[f][1], o);
    const Point c = minus(triangles[f][2], o);
    six_volume[s] += a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
                     a[2] * (b[0] * c[1] - b[1] * c[0]);
    twice_area_sum[s] += twice_area(triangles[f]);
  }
  for (std::size_t s = 0; s < shells.size(); ++s) {
    shells[s].volume = six_volume[s] / 6;
    shells[s].area = twice_area_sum[s] / 2;
  }
  return shells;
}

}  // namespace geometry
