#include "mesh/mesh_store.h"

#include <cstdlib>

namespace mesh {

MeshStore::~MeshStore() {
  std::free(node_xyz_);
  std::free(element_nodes_);
  std::free(element_bc_);
}

bool MeshStore::reserve() {
  // calloc of blocks this large maps fresh zero pages from the system
  // without touching them; they are committed only when written.
  node_xyz_ = static_cast<double*>(std::calloc(std::size_t{MAX_NODES} * 3, sizeof(double)));
  if (node_xyz_ == nullptr) return false;
  element_nodes_ =
      static_cast<std::int32_t*>(std::calloc(std::size_t{MAX_ELEMENTS} * 3, sizeof(std::int32_t)));
  if (element_nodes_ == nullptr) return false;
  element_bc_ = static_cast<double*>(std::calloc(std::size_t{MAX_ELEMENTS}, sizeof(double)));
  return element_bc_ != nullptr;
}

bool MeshStore::begin_facet() {
  if (facet_count_ == MAX_FACETS) return false;
  ++facet_count_;
  return true;
}

void MeshStore::store_facet(const std::array<std::array<double, 3>, 3>& corners) {
  double* node = node_xyz_ + std::size_t(node_count_) * 3;
  for (const auto& corner : corners) {
    for (const double coordinate : corner) *node++ = coordinate;
  }
  std::int32_t* element = element_nodes_ + std::size_t(facet_count_ - 1) * 3;
  element[0] = node_count_ + 1;
  element[1] = node_count_ + 2;
  element[2] = node_count_ + 3;
  element_bc_[facet_count_ - 1] = 0.0;
  node_count_ += 3;
}

}  // namespace mesh
