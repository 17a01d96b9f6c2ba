#include "geometry/vertex_merge.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "geometry/key_sort.h"
#include "geometry/large_table.h"
#include "geometry/lowest_root_groups.h"

namespace geometry {
namespace {

// Cells are this many tolerances wide: a corner lies within the tolerance
// of a face of its cell with a chance of about 6 / CELL_TOLERANCES.
constexpr double CELL_TOLERANCES = 1024.0;
// Cell indices are clamped to 21 bits; a box of 1e9 tolerances holds about
// a million cells a side, so clamping only ever merges cells far apart, and
// the distance test still decides.
constexpr double CELL_LIMIT = 2097151.0;

using Cell = std::array<std::uint32_t, 3>;

// A finalizer that spreads every input bit over the whole word.
std::uint64_t spread_bits(std::uint64_t bits) {
  bits ^= bits >> 30;
  bits *= 0xbf58476d1ce4e5b9U;
  bits ^= bits >> 27;
  bits *= 0x94d049bb133111ebU;
  return bits ^ (bits >> 31);
}

double inverse_width(double tolerance) {
  if (!(tolerance > 0.0)) return 0.0;
  const double inverse = 1.0 / (tolerance * CELL_TOLERANCES);
  return std::isfinite(inverse) ? inverse : 0.0;
}

class Grid {
 public:
  Grid(const Box& box, double tolerance)
      : origin_(box.lowest),
        // No tolerance: one cell, in which only equal corners meet. A
        // multiply by the inverse width is as monotone as a divide. A model
        // of subnormal size has a width whose inverse overflows: it too is
        // one cell, whose corners the sweep along x joins (otherwise every
        // corner would reach across the whole clamped grid).
        cells_per_unit_(inverse_width(tolerance)) {}

  // Monotone in x: a corner within the tolerance of another in some axis
  // finds that one's cell between index(x - t) and index(x + t).
  std::uint32_t index(double x, std::size_t axis) const {
    double q = (x - origin_[axis]) * cells_per_unit_;
    if (!(q < CELL_LIMIT)) q = CELL_LIMIT;  // also NaN from an overflowing difference
    if (!(q > 0.0)) q = 0.0;
    return static_cast<std::uint32_t>(q);
  }
  Cell cell(const Point& p) const { return {index(p[0], 0), index(p[1], 1), index(p[2], 2)}; }

 private:
  Point origin_;
  double cells_per_unit_;
};

// Whether the cells the tolerance reaches from p go beyond p's own.
bool near_a_face(const Grid& grid, const Point& p, double tolerance) {
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const std::uint32_t own = grid.index(p[axis], axis);
    if (grid.index(p[axis] - tolerance, axis) != own ||
        grid.index(p[axis] + tolerance, axis) != own) {
      return true;
    }
  }
  return false;
}

std::uint64_t cell_mix(const Cell& cell) {
  std::uint64_t mix = 0;
  for (const std::uint32_t index : cell) mix = spread_bits(mix ^ index);
  return mix;
}

bool within(const Point& a, const Point& b, double tolerance) {
  Point d{};
  for (std::size_t axis = 0; axis < 3; ++axis) {
    d[axis] = std::fabs(a[axis] - b[axis]);
    if (!(d[axis] <= tolerance)) return false;
  }
  // Scaled by the tolerance the squares stay at most 3 and cannot
  // overflow; the comparison is exact to rounding.
  for (double& value : d) value /= tolerance;
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2] <= 1.0;
}

class CornerTable {
 public:
  explicit CornerTable(std::span<const Triangle> triangles) : triangles_(triangles) {}
  const Point& operator[](std::uint64_t corner) const { return triangles_[corner / 3][corner % 3]; }

 private:
  std::span<const Triangle> triangles_;
};

// The distinct positions, found by sorting corners on their cell's mix.
struct Positions {
  std::vector<std::uint64_t> keys;       // mix above, corner number below; sorted
  std::vector<std::uint32_t> corner;     // per position, one corner that has it
  std::vector<std::uint32_t> use_count;  // per position, its corners
};

}  // namespace

VertexMerge merge_vertices(std::span<const Triangle> triangles, const std::optional<Box>& box) {
  VertexMerge merge;
  reserve_large(merge.vertex_ids, triangles.size());
  merge.vertex_ids.assign(triangles.size(), VertexIds{NO_VERTEX, NO_VERTEX, NO_VERTEX});
  if (!box.has_value()) return merge;
  const double tolerance = merge_tolerance(*box);
  merge.tolerance = tolerance;
  const Grid grid(*box, tolerance);
  const CornerTable corners(triangles);

  const int corner_bits = std::max(1, bits_below(3 * std::uint64_t{triangles.size()}));
  const int mix_bits = 64 - corner_bits;
  const std::uint64_t corner_mask = (std::uint64_t{1} << corner_bits) - 1;
  const auto mix_of = [&](const Point& p) { return cell_mix(grid.cell(p)) >> corner_bits; };

  Positions positions;
  reserve_large(positions.keys, 3 * triangles.size());
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    if (!is_finite(triangles[f])) continue;
    for (std::uint64_t k = 0; k < 3; ++k) {
      positions.keys.push_back(mix_of(triangles[f][k]) << corner_bits | (3 * f + k));
    }
  }
  sort_keys(positions.keys, nullptr, corner_bits, mix_bits);

  // Positions: runs of equal mix hold one cell's corners, nearly always all
  // at one position. Otherwise the run is put in (cell, x, y, z) order in
  // place (the mix, which orders the keys, is the same throughout), and
  // near positions within one cell are joined by a sweep along x.
  // Until the vertices are numbered, the vertex ids hold each corner's
  // position, which saves a table as large.
  const auto position_of = [&](std::uint64_t corner) -> std::uint32_t& {
    return merge.vertex_ids[corner / 3][corner % 3];
  };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> near_pairs;  // positions
  std::vector<std::uint32_t> near_face;  // positions within the tolerance of a cell face
  positions.corner.reserve(positions.keys.size() / 4);
  positions.use_count.reserve(positions.keys.size() / 4);
  std::vector<std::uint64_t> run;
  const std::size_t count = positions.keys.size();
  // Corners are looked up in sorted order, which jumps about the table:
  // asking for them a few keys ahead hides most of the wait.
  constexpr std::size_t LOOK_AHEAD = 16;
  std::size_t requested = 0;
  for (std::size_t begin = 0; begin < count;) {
    const std::uint64_t mix = positions.keys[begin] >> corner_bits;
    std::size_t end = begin + 1;
    while (end < count && positions.keys[end] >> corner_bits == mix) ++end;
    for (requested = std::max(requested, begin + LOOK_AHEAD);
         requested < std::min(end + LOOK_AHEAD, count); ++requested) {
      __builtin_prefetch(&corners[positions.keys[requested] & corner_mask]);
    }
    const Point& first = corners[positions.keys[begin] & corner_mask];
    bool one_position = true;
    for (std::size_t i = begin + 1; i < end && one_position; ++i) {
      one_position = corners[positions.keys[i] & corner_mask] == first;
    }
    if (!one_position) {
      run.assign(positions.keys.begin() + static_cast<std::ptrdiff_t>(begin),
                 positions.keys.begin() + static_cast<std::ptrdiff_t>(end));
      // Finite values order totally, and -0.0 compares equal to 0.0.
      std::stable_sort(run.begin(), run.end(), [&](std::uint64_t a, std::uint64_t b) {
        const Point& pa = corners[a & corner_mask];
        const Point& pb = corners[b & corner_mask];
        const Cell ca = grid.cell(pa);
        const Cell cb = grid.cell(pb);
        return ca != cb ? ca < cb : pa < pb;
      });
      std::copy(run.begin(), run.end(),
                positions.keys.begin() + static_cast<std::ptrdiff_t>(begin));
    }
    const auto first_position = static_cast<std::uint32_t>(positions.corner.size());
    for (std::size_t i = begin; i < end; ++i) {
      const auto corner = static_cast<std::uint32_t>(positions.keys[i] & corner_mask);
      if (i == begin || corners[corner] != corners[positions.corner.back()]) {
        positions.corner.push_back(corner);
        positions.use_count.push_back(0);
        if (tolerance > 0.0 && near_a_face(grid, corners[corner], tolerance)) {
          near_face.push_back(static_cast<std::uint32_t>(positions.corner.size() - 1));
        }
      }
      ++positions.use_count.back();
      position_of(corner) = static_cast<std::uint32_t>(positions.corner.size() - 1);
    }
    if (!one_position && tolerance > 0.0) {
      const auto last_position = static_cast<std::uint32_t>(positions.corner.size());
      for (std::uint32_t p = first_position; p < last_position; ++p) {
        const Point& at = corners[positions.corner[p]];
        const Cell cell = grid.cell(at);
        for (std::uint32_t q = p + 1; q < last_position; ++q) {
          const Point& other = corners[positions.corner[q]];
          if (grid.cell(other) != cell || other[0] - at[0] > tolerance) break;
          if (within(at, other, tolerance)) near_pairs.emplace_back(p, q);
        }
      }
    }
    begin = end;
  }
  // Positions near a face of their cell look into the neighbouring cells
  // the tolerance reaches.
  const auto run_of = [&](std::uint64_t mix) {
    const auto lower =
        std::lower_bound(positions.keys.begin(), positions.keys.end(), mix << corner_bits);
    auto upper = lower;
    while (upper != positions.keys.end() && *upper >> corner_bits == mix) ++upper;
    return std::pair(lower, upper);
  };
  const auto position_count = static_cast<std::uint32_t>(positions.corner.size());
  for (const std::uint32_t p : near_face) {
    const Point& at = corners[positions.corner[p]];
    const Cell cell = grid.cell(at);
    Cell low{};
    Cell high{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
      low[axis] = grid.index(at[axis] - tolerance, axis);
      high[axis] = grid.index(at[axis] + tolerance, axis);
    }
    for (std::uint32_t x = low[0]; x <= high[0]; ++x) {
      for (std::uint32_t y = low[1]; y <= high[1]; ++y) {
        for (std::uint32_t z = low[2]; z <= high[2]; ++z) {
          const Cell other_cell = {x, y, z};
          if (other_cell == cell) continue;
          const auto [from, to] = run_of(cell_mix(other_cell) >> corner_bits);
          for (auto it = from; it != to; ++it) {
            const Point& other = corners[*it & corner_mask];
            if (grid.cell(other) == other_cell && within(at, other, tolerance)) {
              near_pairs.emplace_back(p, position_of(*it & corner_mask));
            }
          }
        }
      }
    }
  }
  positions.keys = {};

  std::vector<std::uint32_t> parent(position_count);
  LowestRootGroups groups(parent);
  for (const auto& [p, q] : near_pairs) groups.join(p, q);
  near_pairs = {};
  // Vertices in the order their first corner appears.
  std::vector<std::uint32_t> vertex_of_root(position_count, NO_VERTEX);
  std::uint32_t vertex_count = 0;
  for (const VertexIds& ids : merge.vertex_ids) {
    for (const std::uint32_t p : ids) {
      if (p == NO_VERTEX) continue;
      std::uint32_t& vertex = vertex_of_root[groups.root(p)];
      if (vertex == NO_VERTEX) vertex = vertex_count++;
    }
  }
  std::vector<std::uint32_t> best(vertex_count, NO_VERTEX);  // position per vertex
  for (std::uint32_t p = 0; p < position_count; ++p) {
    std::uint32_t& chosen = best[vertex_of_root[groups.root(p)]];
    if (chosen == NO_VERTEX || positions.use_count[p] > positions.use_count[chosen] ||
        (positions.use_count[p] == positions.use_count[chosen] &&
         corners[positions.corner[p]] < corners[positions.corner[chosen]])) {
      chosen = p;
    }
  }
  merge.position_corner.resize(vertex_count);
  for (std::uint32_t v = 0; v < vertex_count; ++v) {
    merge.position_corner[v] = positions.corner[best[v]];
  }
  for (VertexIds& ids : merge.vertex_ids) {
    for (std::uint32_t& id : ids) {
      if (id == NO_VERTEX) continue;
      const std::uint32_t p = id;
      id = vertex_of_root[groups.root(p)];
      if (p != best[id]) ++merge.near_coincident_corners;
    }
  }
  return merge;
}

std::vector<FacetRole> classify_merged_facets(std::span<const Triangle> triangles,
                                              const VertexMerge& merge, double min_angle_degrees) {
  // Every corner at its vertex's position already (the usual case): the
  // facets as given are the merged ones.
  if (merge.near_coincident_corners == 0) {
    return classify_facets(triangles, merge.vertex_ids, min_angle_degrees);
  }
  const ShapeLimit limit(min_angle_degrees);
  std::vector<FacetRole> roles(triangles.size(), FacetRole::member);
  for (std::size_t f = 0; f < triangles.size(); ++f) {
    const VertexIds& ids = merge.vertex_ids[f];
    if (ids[0] == NO_VERTEX) {
      roles[f] = FacetRole::nonfinite;
    } else if (ids[0] == ids[1] || ids[1] == ids[2] || ids[0] == ids[2] ||
               limit.degenerate(merged_triangle(triangles, merge, f))) {
      roles[f] = FacetRole::degenerate;
    }
  }
  return roles;
}

}  // namespace geometry
