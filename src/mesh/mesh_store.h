// The mesh store: the whole converted model between the scan of the STL
// file and the writing of the output files.
//
// Every facet becomes one element and three nodes of its own; nothing is
// shared, merged, removed or reordered. The tables are reserved once, at
// start-up, zero-filled; the system commits their pages only as the scanner
// fills them, so a small model costs little memory.
#pragma once

#include <array>
#include <cstdint>

namespace mesh {

// The largest node number that still leaves a blank before it in the
// 8-column node-number fields of the solver deck.
inline constexpr std::int32_t MAX_NODES = 9'999'999;
// Each facet has three nodes of its own, so the node numbers run out first.
inline constexpr std::int32_t MAX_FACETS = MAX_NODES / 3;
// The element tables' capacity, as the deck's element section was laid out
// for (10-column element numbers, 5,000,000 elements). Only MAX_FACETS of
// them are ever used; the rest is reserved address space, never touched.
inline constexpr std::int32_t MAX_ELEMENTS = 5'000'000;
static_assert(MAX_FACETS <= MAX_ELEMENTS);

// Read access for the writers. Node i (1-based) has its x, y, z at
// node_xyz[3(i-1)] onwards; element e its node numbers at
// element_nodes[3(e-1)] onwards and its boundary value at element_bc[e-1].
struct MeshView {
  const double* node_xyz;
  const std::int32_t* element_nodes;
  const double* element_bc;
  std::int32_t facet_count;  // m
  std::int32_t node_count;   // n = 3m
};

class MeshStore {
 public:
  MeshStore() = default;
  MeshStore(const MeshStore&) = delete;
  MeshStore& operator=(const MeshStore&) = delete;
  ~MeshStore();

  // Reserves the three tables at full capacity; false when the system
  // refuses.
  [[nodiscard]] bool reserve();

  // Counts a facet as soon as its facet line is seen (m <- m + 1); false,
  // counting nothing, when the store already holds MAX_FACETS facets.
  [[nodiscard]] bool begin_facet();

  // Stores the counted facet's corners as nodes n+1..n+3 and element m;
  // n <- n + 3.
  void store_facet(const std::array<std::array<double, 3>, 3>& corners);

  // Empties the store for another scan in the same process (a fuzzing
  // harness's use); the tables stay reserved.
  void clear() {
    facet_count_ = 0;
    node_count_ = 0;
  }

  MeshView view() const {
    return {node_xyz_, element_nodes_, element_bc_, facet_count_, node_count_};
  }

 private:
  double* node_xyz_ = nullptr;
  std::int32_t* element_nodes_ = nullptr;
  double* element_bc_ = nullptr;
  std::int32_t facet_count_ = 0;
  std::int32_t node_count_ = 0;
};

}  // namespace mesh
