// The mesh store: the whole converted model between the scan of the STL
// file and the writing of the output files.
//
// Every facet becomes one element and three nodes of its own; nothing is
// shared, merged, removed or reordered. The tables are reserved once, at
// start-up, zero-filled; the system commits their pages only as the scanner
// fills them, so a small model costs little memory.
#pragma once

#include <cstdint>

namespace mesh {

// Capacity of the element tables.
inline constexpr std::int32_t MAX_ELEMENTS = 5'000'000;
// Capacity of the node table: the largest node number that still leaves a
// blank before it in the 8-column node-number fields of the solver deck.
inline constexpr std::int32_t MAX_NODES = 9'999'999;
inline constexpr std::int32_t MAX_FACETS = MAX_NODES / 3;
static_assert(MAX_FACETS <= MAX_ELEMENTS);

// Read access for the writers. Node i (1-based) has its x, y, z at
// node_xyz[3(i-1)] onwards; element e its node numbers at
// element_nodes[3(e-1)] onwards and its boundary value at element_bc[e-1].
struct MeshTables {
  const double* node_xyz;
  const std::int32_t* element_nodes;
  const double* element_bc;
  std::int32_t facet_count;  // m
  std::int32_t node_count;   // n = 3m
};

// Reserves the three tables; ends the run with the insufficient-memory
// report when the system refuses.
void reserve_mesh_store();

// Counts a facet as soon as its facet line is seen (m <- m + 1). A model of
// more than MAX_FACETS facets ends the run with the model-too-large report.
void begin_facet();

// The current facet's corners, as the scanner reads them: corner k, x y z.
double (&corner_xyz())[3][3];

// Stores the current facet as nodes n+1..n+3 and element m; n <- n + 3.
void store_facet();

MeshTables mesh_tables();

// Empties the store for another run in the same process (a harness's use);
// the tables stay reserved.
void reset_mesh_store();

}  // namespace mesh
