// The converter's end of the facet stream: every facet becomes one element
// and three nodes of the mesh store; the skipped lines mean nothing to it.
#pragma once

#include <array>

#include "mesh/mesh_store.h"
#include "reading/facet_stream.h"

namespace reading {

class StoreFilling final : public FacetDestination {
 public:
  explicit StoreFilling(mesh::MeshStore& store) : store_(store) {}

  void store_facet(const FacetText&, const geometry::Triangle& corners,
                   const std::array<int, 3>&) override {
    // The stream takes no more than MAX_FACETS facets, so the store never
    // refuses one here.
    if (store_.begin_facet()) store_.store_facet(corners);
  }
  void skipped_line(const SkippedLine&) override {}

 private:
  mesh::MeshStore& store_;
};

}  // namespace reading
