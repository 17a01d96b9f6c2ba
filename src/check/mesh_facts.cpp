#include "check/mesh_facts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "check/key_sort.h"

namespace check {
namespace {

using reading::Corner;
using reading::FacetCorners;

enum class FacetRole : std::uint8_t { nonfinite, degenerate, member, duplicate };

// Corner numbers (3 f + k) and facet numbers share the low bits of a key
// with the data sorted above them. The converter's facet limit keeps corner
// numbers below 2^24, so facet numbers with two flag bits fit too.
constexpr int CORNER_BITS = 24;
constexpr std::uint64_t CORNER_MASK = (std::uint64_t{1} << CORNER_BITS) - 1;
constexpr int MIX_BITS = 64 - CORNER_BITS;

// Edge payload: facet number, then whether the edge is the one the facet's
// two lowest vertex ids span, then whether the facet runs it from the higher
// id to the lower.
constexpr std::uint32_t REVERSED_FLAG = 1;
constexpr std::uint32_t FIRST_EDGE_FLAG = 2;
constexpr int FACET_SHIFT = 2;

Corner minus(const Corner& a, const Corner& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

Corner cross(const Corner& u, const Corner& v) {
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

double dot(const Corner& a, const Corner& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double squared_length(const Corner& u) { return dot(u, u); }

bool is_finite(const FacetCorners& corners) {
  for (const Corner& corner : corners) {
    for (const double value : corner) {
      if (!std::isfinite(value)) return false;
    }
  }
  return true;
}

// A finalizer that spreads every input bit over the whole word.
std::uint64_t spread_bits(std::uint64_t bits) {
  bits ^= bits >> 30;
  bits *= 0xbf58476d1ce4e5b9U;
  bits ^= bits >> 27;
  bits *= 0x94d049bb133111ebU;
  return bits ^ (bits >> 31);
}

class CornerTable {
 public:
  explicit CornerTable(std::span<const FacetCorners> facets) : facets_(facets) {}
  const Corner& operator[](std::uint64_t corner_number) const {
    return facets_[corner_number / 3][corner_number % 3];
  }

 private:
  std::span<const FacetCorners> facets_;
};

// Facets joined through shared edges; roots are the lowest facet number of
// their group.
class FacetGroups {
 public:
  explicit FacetGroups(std::size_t facet_count) : parent_(facet_count) {
    for (std::size_t f = 0; f < facet_count; ++f) parent_[f] = static_cast<std::uint32_t>(f);
  }
  std::uint32_t root(std::uint32_t facet) {
    while (parent_[facet] != facet) {
      parent_[facet] = parent_[parent_[facet]];  // halves the path as it goes
      facet = parent_[facet];
    }
    return facet;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = root(a);
    b = root(b);
    if (a == b) return;
    if (a < b) std::swap(a, b);
    parent_[a] = b;
  }

 private:
  std::vector<std::uint32_t> parent_;
};

struct Classification {
  std::vector<FacetRole> roles;
  std::vector<std::uint64_t> corner_keys;  // mix in the high bits, corner number below
};

Classification classify_facets(std::span<const FacetCorners> facets, MeshFacts& facts) {
  Classification result;
  result.roles.resize(facets.size());
  result.corner_keys.reserve(3 * facets.size());
  Corner lowest{};
  Corner highest{};
  bool any_finite = false;
  double longest_squared = 0.0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    const FacetCorners& corners = facets[f];
    if (!is_finite(corners)) {
      result.roles[f] = FacetRole::nonfinite;
      ++facts.nonfinite_facets;
      continue;
    }
    if (!any_finite) {
      lowest = highest = corners[0];
      any_finite = true;
    }
    for (const Corner& corner : corners) {
      for (std::size_t axis = 0; axis < 3; ++axis) {
        lowest[axis] = std::min(lowest[axis], corner[axis]);
        highest[axis] = std::max(highest[axis], corner[axis]);
      }
    }
    for (std::size_t side = 0; side < 3; ++side) {
      longest_squared =
          std::max(longest_squared, squared_length(minus(corners[(side + 1) % 3], corners[side])));
    }
    if (is_degenerate(corners)) {
      result.roles[f] = FacetRole::degenerate;
      ++facts.degenerate_facets;
      continue;
    }
    result.roles[f] = FacetRole::member;
    for (std::uint64_t k = 0; k < 3; ++k) {
      result.corner_keys.push_back(corner_sort_key(corners[k]) << CORNER_BITS | (3 * f + k));
    }
  }
  if (any_finite) facts.bounding_box = BoundingBox{lowest, highest};

  // Squares overflow beyond about 1e154 and lose digits below about 1e-154:
  // there the sides are measured again without squaring.
  constexpr double SAFE_LOWEST = 0x1p-1000;
  if (longest_squared >= SAFE_LOWEST && longest_squared <= std::numeric_limits<double>::max()) {
    facts.longest_edge = std::sqrt(longest_squared);
  } else if (any_finite) {
    for (std::size_t f = 0; f < facets.size(); ++f) {
      if (result.roles[f] == FacetRole::nonfinite) continue;
      for (std::size_t side = 0; side < 3; ++side) {
        const Corner u = minus(facets[f][(side + 1) % 3], facets[f][side]);
        facts.longest_edge = std::max(facts.longest_edge, std::hypot(u[0], u[1], u[2]));
      }
    }
  }
  return result;
}

// Gives each corner of a member facet the number of its vertex; returns the
// number of vertices.
std::uint32_t number_vertices(std::span<const FacetCorners> facets,
                              std::vector<std::uint64_t>& corner_keys,
                              std::vector<std::uint32_t>& vertex_of) {
  sort_keys(corner_keys, nullptr, CORNER_BITS, MIX_BITS);
  const CornerTable corners(facets);
  std::uint32_t vertex_count = 0;
  std::vector<std::uint64_t> mixed_run;
  const std::size_t count = corner_keys.size();
  // Corners are looked up in sorted order, which jumps about the table:
  // asking for them a few keys ahead hides most of the wait.
  constexpr std::size_t LOOK_AHEAD = 16;
  std::size_t requested = 0;
  for (std::size_t begin = 0; begin < count;) {
    const std::uint64_t mix = corner_keys[begin] >> CORNER_BITS;
    std::size_t end = begin + 1;
    while (end < count && corner_keys[end] >> CORNER_BITS == mix) ++end;
    for (requested = std::max(requested, begin + LOOK_AHEAD);
         requested < std::min(end + LOOK_AHEAD, count); ++requested) {
      __builtin_prefetch(&corners[corner_keys[requested] & CORNER_MASK]);
    }
    const Corner& first = corners[corner_keys[begin] & CORNER_MASK];
    bool one_vertex = true;
    for (std::size_t i = begin + 1; i < end && one_vertex; ++i) {
      one_vertex = corners[corner_keys[i] & CORNER_MASK] == first;
    }
    if (one_vertex) {
      for (std::size_t i = begin; i < end; ++i) {
        vertex_of[corner_keys[i] & CORNER_MASK] = vertex_count;
      }
      ++vertex_count;
    } else {
      // Different corners that share a mix: rare, so a comparison sort of
      // the few involved is cheap. Finite values order totally, and -0.0
      // compares equal to 0.0.
      mixed_run.clear();
      for (std::size_t i = begin; i < end; ++i) mixed_run.push_back(corner_keys[i] & CORNER_MASK);
      std::sort(mixed_run.begin(), mixed_run.end(),
                [&](std::uint64_t a, std::uint64_t b) { return corners[a] < corners[b]; });
      for (std::size_t i = 0; i < mixed_run.size(); ++i) {
        if (i > 0 && corners[mixed_run[i]] != corners[mixed_run[i - 1]]) ++vertex_count;
        vertex_of[mixed_run[i]] = vertex_count;
      }
      ++vertex_count;
    }
    begin = end;
  }
  return vertex_count;
}

struct EdgeTable {
  std::vector<std::uint64_t> keys;  // lower id * vertex count + higher id, ascending
  std::vector<std::uint32_t> uses;  // facet number and flags, in facet order per edge
};

EdgeTable list_edges(const std::vector<FacetRole>& roles,
                     const std::vector<std::uint32_t>& vertex_of, std::uint32_t vertex_count,
                     std::vector<std::uint64_t>&& key_storage) {
  EdgeTable edges;
  edges.keys = std::move(key_storage);
  edges.keys.clear();
  edges.uses.reserve(edges.keys.capacity());
  for (std::size_t f = 0; f < roles.size(); ++f) {
    if (roles[f] != FacetRole::member) continue;
    const std::uint32_t* ids = &vertex_of[3 * f];
    for (std::size_t side = 0; side < 3; ++side) {
      const std::uint32_t from = ids[side];
      const std::uint32_t to = ids[(side + 1) % 3];
      const std::uint32_t third = ids[(side + 2) % 3];
      const std::uint32_t lower = std::min(from, to);
      const std::uint32_t higher = std::max(from, to);
      edges.keys.push_back(std::uint64_t{lower} * vertex_count + higher);
      edges.uses.push_back(static_cast<std::uint32_t>(f << FACET_SHIFT) |
                           (third > higher ? FIRST_EDGE_FLAG : 0) |
                           (from > to ? REVERSED_FLAG : 0));
    }
  }
  sort_keys(edges.keys, &edges.uses, 0, bits_below(std::uint64_t{vertex_count} * vertex_count));
  return edges;
}

// Calls visit(begin, end) for each run of equal keys.
template <typename Visit>
void for_each_edge(const EdgeTable& edges, Visit visit) {
  const std::size_t count = edges.keys.size();
  for (std::size_t begin = 0; begin < count;) {
    std::size_t end = begin + 1;
    while (end < count && edges.keys[end] == edges.keys[begin]) ++end;
    visit(begin, end);
    begin = end;
  }
}

// Two facets with the same three vertices share the edge between their two
// lowest vertex ids and have the same third vertex; only that edge of each
// facet is compared, so each pair is met once.
void mark_duplicates(const EdgeTable& edges, const std::vector<std::uint32_t>& vertex_of,
                     std::vector<FacetRole>& roles, MeshFacts& facts) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> candidates;  // third vertex, facet
  for_each_edge(edges, [&](std::size_t begin, std::size_t end) {
    if (end - begin < 2) return;
    candidates.clear();
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint32_t use = edges.uses[i];
      if ((use & FIRST_EDGE_FLAG) == 0) continue;
      const std::uint32_t f = use >> FACET_SHIFT;
      const std::uint32_t* ids = &vertex_of[3 * std::size_t{f}];
      candidates.emplace_back(std::max({ids[0], ids[1], ids[2]}), f);
    }
    if (candidates.size() < 2) return;
    // Stable: within one third vertex the earliest facet comes first.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < candidates.size(); ++i) {
      if (candidates[i].first != candidates[i - 1].first) continue;
      roles[candidates[i].second] = FacetRole::duplicate;
      ++facts.duplicate_facets;
    }
  });
}

void count_edges_and_shells(const EdgeTable& edges, const std::vector<FacetRole>& roles,
                            MeshFacts& facts) {
  FacetGroups groups(roles.size());
  for_each_edge(edges, [&](std::size_t begin, std::size_t end) {
    std::int64_t uses = 0;
    std::int64_t reversed = 0;
    std::uint32_t first_facet = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint32_t f = edges.uses[i] >> FACET_SHIFT;
      if (roles[f] != FacetRole::member) continue;
      if (uses == 0) {
        first_facet = f;
      } else {
        groups.join(first_facet, f);
      }
      ++uses;
      if ((edges.uses[i] & REVERSED_FLAG) != 0) ++reversed;
    }
    if (uses == 1) ++facts.open_edges;
    if (uses > 2) ++facts.nonmanifold_edges;
    if (uses == 2 && reversed != 1) ++facts.misoriented_edges;
  });
  for (std::size_t f = 0; f < roles.size(); ++f) {
    if (roles[f] == FacetRole::member && groups.root(static_cast<std::uint32_t>(f)) == f) {
      ++facts.shells;
    }
  }
}

void sum_area_and_volume(std::span<const FacetCorners> facets, const std::vector<FacetRole>& roles,
                         MeshFacts& facts) {
  // Halved and divided by six once, at the end: the unit cube's volume
  // comes out as exactly 1.
  double twice_area = 0.0;
  double six_volume = 0.0;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (roles[f] != FacetRole::member) continue;
    const auto& [a, b, c] = facets[f];
    twice_area += std::sqrt(squared_length(cross(minus(b, a), minus(c, a))));
    six_volume += dot(a, cross(b, c));
  }
  facts.area = twice_area / 2;
  facts.volume = six_volume / 6;
}

}  // namespace

// Equal coordinates give equal mixes: -0.0 is made +0.0 first (adding +0.0
// does that and changes nothing else).
std::uint64_t corner_sort_key(const Corner& corner) {
  std::uint64_t mix = 0;
  for (const double value : corner) {
    mix = spread_bits(mix ^ std::bit_cast<std::uint64_t>(value + 0.0));
  }
  return mix >> CORNER_BITS;
}

bool is_degenerate(const FacetCorners& corners) {
  const auto& [a, b, c] = corners;
  if (a == b || b == c || a == c) return true;
  const Corner normal = cross(minus(b, a), minus(c, a));
  return normal[0] == 0.0 && normal[1] == 0.0 && normal[2] == 0.0;
}

MeshFacts analyse_mesh(std::span<const FacetCorners> facets) {
  MeshFacts facts;
  Classification classes = classify_facets(facets, facts);
  std::vector<std::uint32_t> vertex_of(3 * facets.size());
  const std::uint32_t vertex_count = number_vertices(facets, classes.corner_keys, vertex_of);
  facts.vertices = vertex_count;
  const EdgeTable edges =
      list_edges(classes.roles, vertex_of, vertex_count, std::move(classes.corner_keys));
  mark_duplicates(edges, vertex_of, classes.roles, facts);
  count_edges_and_shells(edges, classes.roles, facts);
  sum_area_and_volume(facets, classes.roles, facts);
  return facts;
}

}  // namespace check
