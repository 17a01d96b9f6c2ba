#include "geometry/edge_topology.h"

#include <algorithm>
#include <utility>

#include "geometry/large_table.h"
#include "geometry/lowest_root_groups.h"

namespace geometry {
namespace {

// One use of an edge: the higher vertex id, and the facet number with the
// side and whether the facet runs the edge from the higher id to the lower.
struct EdgeUse {
  std::uint32_t higher;
  std::uint32_t code;  // facet << 3 | side << 1 | reversed
};

constexpr std::uint32_t facet_of(std::uint32_t code) { return code >> 3; }
constexpr std::size_t side_of(std::uint32_t code) { return (code >> 1) & 3; }
constexpr bool reversed(std::uint32_t code) { return (code & 1) != 0; }

// The uses bucketed by lower vertex id; within a bucket by higher id, and
// in facet order for one edge.
struct EdgeBuckets {
  std::vector<std::uint32_t> start;  // vertex_count + 1 offsets
  std::vector<EdgeUse> uses;
  std::size_t use_count = 0;
};

EdgeBuckets bucket_edges(std::span<const VertexIds> vertex_ids, std::span<const FacetRole> roles,
                         std::uint32_t vertex_count) {
  EdgeBuckets buckets;
  buckets.start.assign(std::size_t{vertex_count} + 1, 0);
  for (std::size_t f = 0; f < vertex_ids.size(); ++f) {
    if (roles[f] != FacetRole::member) continue;
    const VertexIds& ids = vertex_ids[f];
    for (std::size_t side = 0; side < 3; ++side) {
      ++buckets.start[std::min(ids[side], ids[(side + 1) % 3]) + 1];
    }
  }
  for (std::size_t v = 0; v < vertex_count; ++v) buckets.start[v + 1] += buckets.start[v];
  buckets.use_count = buckets.start[vertex_count];
  reserve_large(buckets.uses, buckets.use_count);
  buckets.uses.resize(buckets.use_count);
  // start[v + 1] is the end of bucket v and serves as its cursor: filled
  // from the back, facets in reverse, each bucket ends up in facet order,
  // and the cursor ends at the bucket's beginning.
  std::vector<std::uint32_t>& cursor = buckets.start;
  for (std::size_t f = vertex_ids.size(); f-- > 0;) {
    if (roles[f] != FacetRole::member) continue;
    const VertexIds& ids = vertex_ids[f];
    for (std::size_t side = 3; side-- > 0;) {
      const std::uint32_t from = ids[side];
      const std::uint32_t to = ids[(side + 1) % 3];
      const std::uint32_t lower = std::min(from, to);
      const std::uint32_t code =
          static_cast<std::uint32_t>(f << 3 | side << 1) | (from > to ? 1U : 0U);
      buckets.uses[--cursor[lower + 1]] = EdgeUse{std::max(from, to), code};
    }
  }
  // cursor[v + 1] is now the beginning of bucket v: shift down by one.
  for (std::size_t v = 0; v < vertex_count; ++v) cursor[v] = cursor[v + 1];
  cursor[vertex_count] = static_cast<std::uint32_t>(buckets.use_count);
  for (std::size_t v = 0; v < vertex_count; ++v) {
    EdgeUse* const begin = buckets.uses.data() + cursor[v];
    EdgeUse* const end = buckets.uses.data() + cursor[v + 1];
    // Buckets hold a vertex's few edges; stable keeps facet order per edge.
    if (end - begin < 32) {
      for (EdgeUse* it = begin + (begin != end ? 1 : 0); it < end; ++it) {
        const EdgeUse use = *it;
        EdgeUse* to = it;
        for (; to > begin && (to - 1)->higher > use.higher; --to) *to = *(to - 1);
        *to = use;
      }
    } else {
      std::stable_sort(begin, end,
                       [](const EdgeUse& a, const EdgeUse& b) { return a.higher < b.higher; });
    }
  }
  return buckets;
}

// Calls visit(begin, end) for the uses of each edge.
template <typename Visit>
void for_each_edge(const EdgeBuckets& buckets, Visit visit) {
  for (std::size_t v = 0; v + 1 < buckets.start.size(); ++v) {
    const std::size_t bucket_end = buckets.start[v + 1];
    for (std::size_t begin = buckets.start[v]; begin < bucket_end;) {
      std::size_t end = begin + 1;
      while (end < bucket_end && buckets.uses[end].higher == buckets.uses[begin].higher) ++end;
      visit(begin, end);
      begin = end;
    }
  }
}

// Two facets with the same three vertices share the edge between their two
// lowest ids and have the same third vertex; only that edge of each facet
// is compared, so each pair is met once, and the earlier facet stays.
std::int64_t mark_repeated(const EdgeBuckets& buckets, std::span<const VertexIds> vertex_ids,
                           std::span<FacetRole> roles) {
  std::int64_t repeated = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> candidates;  // third vertex, facet
  for_each_edge(buckets, [&](std::size_t begin, std::size_t end) {
    if (end - begin < 2) return;
    candidates.clear();
    for (std::size_t i = begin; i < end; ++i) {
      const EdgeUse& use = buckets.uses[i];
      const std::uint32_t f = facet_of(use.code);
      const VertexIds& ids = vertex_ids[f];
      const std::uint32_t third = ids[(side_of(use.code) + 2) % 3];
      if (third > use.higher) candidates.emplace_back(third, f);
    }
    if (candidates.size() < 2) return;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < candidates.size(); ++i) {
      if (candidates[i].first != candidates[i - 1].first) continue;
      roles[candidates[i].second] = FacetRole::repeated;
      ++repeated;
    }
  });
  return repeated;
}

}  // namespace

EdgeTopology analyse_edges(std::span<const VertexIds> vertex_ids, std::span<FacetRole> roles,
                           std::uint32_t vertex_count, Neighbours neighbours) {
  EdgeTopology topology;
  const std::size_t facet_count = vertex_ids.size();
  const EdgeBuckets buckets = bucket_edges(vertex_ids, roles, vertex_count);
  topology.repeated_facets = mark_repeated(buckets, vertex_ids, roles);

  topology.sides.assign(facet_count, SideKinds{SideKind::none, SideKind::none, SideKind::none});
  if (neighbours == Neighbours::list) {
    topology.neighbours.assign(facet_count, {NO_FACET, NO_FACET, NO_FACET});
  }
  topology.shell_of_facet.resize(facet_count);
  LowestRootGroups groups(topology.shell_of_facet);
  std::array<std::uint32_t, 2> pair{};
  for_each_edge(buckets, [&](std::size_t begin, std::size_t end) {
    std::int64_t uses = 0;
    std::int64_t reversed_uses = 0;
    std::uint32_t first_facet = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint32_t f = facet_of(buckets.uses[i].code);
      if (roles[f] != FacetRole::member) continue;
      if (uses == 0) {
        first_facet = f;
      } else {
        groups.join(first_facet, f);
      }
      if (uses < 2) pair[static_cast<std::size_t>(uses)] = buckets.uses[i].code;
      ++uses;
      if (reversed(buckets.uses[i].code)) ++reversed_uses;
    }
    if (uses == 0) return;
    ++topology.edges;
    SideKind kind = SideKind::shared;
    if (uses == 1) {
      kind = SideKind::open;
      ++topology.open_edges;
    } else if (uses > 2) {
      kind = SideKind::nonmanifold;
      ++topology.nonmanifold_edges;
    } else if (reversed_uses != 1) {
      kind = SideKind::misoriented;
      ++topology.misoriented_edges;
    }
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint32_t code = buckets.uses[i].code;
      if (roles[facet_of(code)] != FacetRole::member) continue;
      topology.sides[facet_of(code)][side_of(code)] = kind;
    }
    if (uses == 2 && neighbours == Neighbours::list) {
      topology.neighbours[facet_of(pair[0])][side_of(pair[0])] = facet_of(pair[1]);
      topology.neighbours[facet_of(pair[1])][side_of(pair[1])] = facet_of(pair[0]);
    }
  });

  // Roots become shell numbers, in the order of their first facet. Every
  // parent is a lower facet, so one ascending pass points each facet at its
  // root, and a second turns roots into numbers that later facets copy.
  std::vector<std::uint32_t>& parent = topology.shell_of_facet;
  for (std::size_t f = 0; f < facet_count; ++f) parent[f] = parent[parent[f]];
  std::uint32_t shells = 0;
  for (std::size_t f = 0; f < facet_count; ++f) {
    const std::uint32_t root = parent[f];
    if (roles[f] != FacetRole::member) {
      parent[f] = NO_SHELL;
    } else if (root == f) {
      parent[f] = shells++;
    } else {
      parent[f] = parent[root];
    }
  }
  topology.shell_count = shells;
  return topology;
}

}  // namespace geometry
