// The mesh store: the whole converted model between the scan of the STL
// file and the writing of the output files.
//
// Every facet becomes one element and three nodes of its own; nothing is
// shared, merged, removed or reordered. So only the nodes' coordinates are
// stored: element e always has the nodes 3e-2, 3e-1, 3e, and every boundary
// value is zero. The coordinate table is reserved once, at start-up, at
// full capacity; the system supplies its pages only as the scanner fills
// them, so a small model costs little memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mesh {

// The largest node number that still leaves a blank before it in the
// 8-column node-number fields of the solver deck.
inline constexpr std::int32_t MAX_NODES = 9'999'999;
// Each facet has three nodes of its own, so the node numbers run out first.
inline constexpr std::int32_t MAX_FACETS = MAX_NODES / 3;
// The deck's element section was laid out for this many elements
// (10-column element numbers); only MAX_FACETS of them can occur.
inline constexpr std::int32_t MAX_ELEMENTS = 5'000'000;
static_assert(MAX_FACETS <= MAX_ELEMENTS);

// Element e (1-based) has the nodes first_node(e), first_node(e) + 1 and
// first_node(e) + 2, and the boundary value BOUNDARY_VALUE.
constexpr std::int32_t first_node(std::int32_t element) { return 3 * element - 2; }
inline constexpr double BOUNDARY_VALUE = 0.0;

// Read access for the writers. Node i (1-based) has its x, y, z at
// node_xyz[3(i-1)] onwards.
struct MeshView {
  const double* node_xyz;
  std::int32_t facet_count;  // m
  std::int32_t node_count;   // n = 3m
};

class MeshStore {
 public:
  MeshStore() = default;
  MeshStore(const MeshStore&) = delete;
  MeshStore& operator=(const MeshStore&) = delete;
  ~MeshStore();

  // Reserves the coordinate table at full capacity (address space only);
  // false when the system refuses.
  [[nodiscard]] bool reserve();

  // Counts a facet as soon as its facet line is seen (m <- m + 1); false,
  // counting nothing, when the store already holds MAX_FACETS facets.
  [[nodiscard]] bool begin_facet() {
    if (facet_count_ == MAX_FACETS) return false;
    ++facet_count_;
    return true;
  }

  // Stores the counted facet's corners as nodes n+1..n+3; n <- n + 3.
  void store_facet(const std::array<std::array<double, 3>, 3>& corners) {
    double* node = node_xyz_ + std::size_t(node_count_) * 3;
    for (const auto& corner : corners) {
      for (const double coordinate : corner) *node++ = coordinate;
    }
    node_count_ += 3;
  }

  // Empties the store for another scan in the same process (a fuzzing
  // harness's use); the table stays reserved.
  void clear() {
    facet_count_ = 0;
    node_count_ = 0;
  }

  MeshView view() const { return {node_xyz_, facet_count_, node_count_}; }

 private:
  void* mapping_ = nullptr;
  std::size_t mapping_size_ = 0;
  double* node_xyz_ = nullptr;
  std::int32_t facet_count_ = 0;
  std::int32_t node_count_ = 0;
};

}  // namespace mesh
