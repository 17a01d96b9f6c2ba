#include "mesh/mesh_store.h"

#include <cstdlib>

#include "records/channel.h"
#include "records/endings.h"

namespace mesh {
namespace {

double* node_xyz = nullptr;
std::int32_t* element_nodes = nullptr;
double* element_bc = nullptr;
std::int32_t facet_count = 0;
std::int32_t node_count = 0;
double corners[3][3] = {};

}  // namespace

void reserve_mesh_store() {
  // calloc of blocks this large maps fresh zero pages from the system
  // without touching them; they are committed only when written.
  node_xyz = static_cast<double*>(std::calloc(std::size_t{MAX_NODES} * 3, sizeof(double)));
  if (node_xyz == nullptr) records::fatal_report(records::REPORT_NO_MEMORY);
  element_nodes =
      static_cast<std::int32_t*>(std::calloc(std::size_t{MAX_ELEMENTS} * 3, sizeof(std::int32_t)));
  if (element_nodes == nullptr) records::fatal_report(records::REPORT_NO_MEMORY);
  element_bc = static_cast<double*>(std::calloc(std::size_t{MAX_ELEMENTS}, sizeof(double)));
  if (element_bc == nullptr) records::fatal_report(records::REPORT_NO_MEMORY);
}

void begin_facet() {
  if (facet_count == MAX_FACETS) {
    const records::Channel* stl = records::find_channel(records::STL_UNIT);
    records::fatal_report(records::REPORT_MODEL_TOO_LARGE, records::STL_UNIT,
                          stl != nullptr ? std::string_view(stl->path()) : std::string_view());
  }
  ++facet_count;
}

double (&corner_xyz())[3][3] { return corners; }

void store_facet() {
  double* node = node_xyz + std::size_t(node_count) * 3;
  for (int corner = 0; corner < 3; ++corner) {
    for (int axis = 0; axis < 3; ++axis) *node++ = corners[corner][axis];
  }
  std::int32_t* element = element_nodes + std::size_t(facet_count - 1) * 3;
  element[0] = node_count + 1;
  element[1] = node_count + 2;
  element[2] = node_count + 3;
  element_bc[facet_count - 1] = 0.0;
  node_count += 3;
}

MeshTables mesh_tables() { return {node_xyz, element_nodes, element_bc, facet_count, node_count}; }

void reset_mesh_store() {
  facet_count = 0;
  node_count = 0;
}

}  // namespace mesh
