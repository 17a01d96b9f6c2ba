#include "check/model_units.h"

namespace check {

void state_in_metres(MeshFacts& mesh, double factor) {
  if (factor == 1.0) return;
  mesh.merge_tolerance *= factor;
  mesh.widest_gap *= factor;
  mesh.longest_edge *= factor;
  mesh.area *= factor * factor;
  mesh.volume *= factor * factor * factor;
  if (mesh.bounding_box.has_value()) {
    for (geometry::Point* corner : {&mesh.bounding_box->lowest, &mesh.bounding_box->highest}) {
      for (double& coordinate : *corner) coordinate *= factor;
    }
  }
}

}  // namespace check
