// A facet soup: triangles as they come from a file, each with three corners
// of its own and nothing shared, and what can be said of each facet alone.
//
// The geometry library works on plain arrays indexed by facet number (0-based,
// in file order): the triangles, their vertex ids once corners are merged
// (vertex_merge.h), their roles, their sides' kinds (edge_topology.h) and
// their shells (shells.h). A caller that changes the facets (drops, flips)
// builds new arrays and runs the steps again.
// The triangles and their arithmetic, with its safe range, are in
// triangle.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "geometry/triangle.h"

namespace geometry {

using VertexIds = std::array<std::uint32_t, 3>;

// The vertex id of a corner that has none (a facet with a non-finite
// coordinate), and the facet number of no facet.
inline constexpr std::uint32_t NO_VERTEX = 0xffffffffU;
inline constexpr std::uint32_t NO_FACET = 0xffffffffU;

// Facet numbers are packed with a side and a flag into 32 bits in the edge
// table, which bounds the facets of one soup.
inline constexpr std::size_t MAX_SOUP_FACETS = std::size_t{1} << 29;

struct FacetSoup {
  std::vector<Triangle> triangles;
  // Per facet, where it was read, for messages: the 1-based line number of
  // its facet line in ASCII STL, or its 1-based record number in binary.
  std::vector<std::int64_t> locations;
};

struct Box {
  Point lowest;   // xmin, ymin, zmin
  Point highest;  // xmax, ymax, zmax
};

bool is_finite(const Triangle& triangle);

// The box of the facets whose nine coordinates are all finite; none
// without such a facet.
std::optional<Box> finite_box(std::span<const Triangle> triangles);

// Corners closer than this are one vertex: the larger of 1e-9 times the
// box's diagonal (computed without overflow) and ROUNDING_ULPS units in the
// last place of the largest coordinate magnitude. Always finite; 0 only for
// a box of one point at the origin or of subnormal size.
//
// The second term is for models placed far from the origin (site or map
// coordinates): a CAD program computes a corner once for every facet that
// uses it, through a placement (a rotation's three products and two sums,
// then a translation), and each result may be off by a few units in the
// last place of the largest coordinate; two computations of one corner can
// then differ by up to about eight. Sixteen leaves a factor of two, and is
// still only 15 nanometres at 6.5e6 metres, far below any real feature.
inline constexpr double ROUNDING_ULPS = 16;
double merge_tolerance(const Box& box);

// A sliver: twice the area at most 1e-12 times the square of the longest
// side, computed on differences of corners so that it holds at any
// distance from the origin, and scaled so that no square overflows. True
// for a facet whose corners are all equal. The facet must be finite.
bool is_sliver(const Triangle& triangle);

// The smallest angle a facet may have, in degrees, unless a command is
// told otherwise: a needle or a cap with a sharper corner is degenerate.
// Below half a degree the solver's collocation on the element loses most
// of its digits (the aspect ratio passes a hundred), while the thinnest
// facets a CAD program writes for a smooth curved surface keep a few
// degrees.
inline constexpr double DEFAULT_MIN_ANGLE_DEGREES = 0.5;

// A sliver, or a facet whose smallest angle lies below `min_angle_degrees`
// (0: the sliver test alone). The smallest angle lies opposite the
// shortest side, and its sine is twice the area over the product of the
// two longer sides; it is at most 60 degrees, so comparing sines compares
// angles. Holds at any scale, like is_sliver. The facet must be finite.
bool is_degenerate_shape(const Triangle& triangle, double min_angle_degrees);

// The same test with the limit's sine worked out once, for many facets.
class ShapeLimit {
 public:
  explicit ShapeLimit(double min_angle_degrees);
  bool degenerate(const Triangle& triangle) const;

 private:
  double sine_squared_;
};

// What a facet is to the topology. Only members have edges.
enum class FacetRole : std::uint8_t {
  member,
  nonfinite,   // a NaN or infinite coordinate
  degenerate,  // two corners one vertex, a sliver, or below the smallest angle
  repeated,    // the same three vertices as an earlier member, in any order
};

// Roles from the vertex ids (NO_VERTEX marks a non-finite facet) and the
// shape test (is_degenerate_shape) on the triangles as given; `repeated` is
// left to the edge topology, which meets the copies anyway. To judge the
// shapes the corners take once merged, pass triangles whose corners sit at
// their vertices' positions (classify_merged_facets in vertex_merge.h).
std::vector<FacetRole> classify_facets(std::span<const Triangle> triangles,
                                       std::span<const VertexIds> vertex_ids,
                                       double min_angle_degrees = DEFAULT_MIN_ANGLE_DEGREES);

// The length of the longest side of the finite facets: 0 without one, and
// infinite when a side is longer than the largest double (its coordinates
// are finite, their difference is not). Exact to rounding at any scale,
// also where squares would overflow or underflow.
double longest_side(std::span<const Triangle> triangles);

// Reverses a facet's orientation: corners 1 and 2 change places, in the
// triangle and in its vertex ids alike.
void flip_facet(Triangle& triangle, VertexIds& ids);

}  // namespace geometry
