// The edges of a merged facet soup: each undirected edge (a pair of vertex
// ids) with the member facets that use it, in which direction.
//
//   open         used by one member facet: a hole's rim
//   nonmanifold  used by more than two
//   misoriented  used by two that run it the same way (one of them flipped)
//   shared       used by two in opposite directions, as in a closed surface
//
// Facets are joined into shells through every edge they share, whatever
// its kind: a shell is a connected piece of surface.
//
// Memory: the edges are bucketed by their lower vertex (a counting sort,
// 8 bytes per facet side and 4 per vertex), never sorted as a whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/facet_soup.h"

namespace geometry {

enum class SideKind : std::uint8_t { none, shared, open, nonmanifold, misoriented };

// Per facet, side k (corner k to corner k + 1 mod 3). `none` for every side
// of a facet that is not a member.
using SideKinds = std::array<SideKind, 3>;

inline constexpr std::uint32_t NO_SHELL = 0xffffffffU;

struct EdgeTopology {
  std::int64_t edges = 0;  // distinct edges of the member facets
  std::int64_t open_edges = 0;
  std::int64_t nonmanifold_edges = 0;
  std::int64_t misoriented_edges = 0;
  std::int64_t repeated_facets = 0;  // marked in the roles by this call
  std::vector<SideKinds> sides;      // per facet
  // Per facet its shell, NO_SHELL for a facet that is not a member. Shells
  // are numbered in the order of their first facet.
  std::vector<std::uint32_t> shell_of_facet;
  std::uint32_t shell_count = 0;
  // Per facet side, when asked for: the other member facet across an edge
  // used by exactly two, else NO_FACET. Empty otherwise.
  std::vector<std::array<std::uint32_t, 3>> neighbours;
};

enum class Neighbours { skip, list };

// First marks each member facet with the same three vertices as an earlier
// member (any order or orientation) as FacetRole::repeated in `roles`, so
// that the copies take no part in the edges: the counts then say what
// remains once the copies are removed. Then classifies the edges of the
// remaining members and finds the shells. `vertex_ids` as from
// merge_vertices (after any flips); `vertex_count` bounds the ids.
EdgeTopology analyse_edges(std::span<const VertexIds> vertex_ids, std::span<FacetRole> roles,
                           std::uint32_t vertex_count, Neighbours neighbours = Neighbours::skip);

}  // namespace geometry
