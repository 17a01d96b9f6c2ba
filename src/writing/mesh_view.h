// "input.plt": the converted model as a Tecplot ASCII data file, one zone of
// triangles (FETRIANGLE) in point packing with the variables X, Y and Z, so
// that the boundary-element mesh can be looked at in a viewer.
#pragma once

#include "mesh/mesh_store.h"
#include "records/output_channel.h"

namespace writing {

// Writes the whole mesh view of the mesh on the channel, and hands it to
// the system: a refused write ends the run with its report before this
// returns.
void write_mesh_view(records::OutputChannel& view, mesh::MeshView mesh);

}  // namespace writing
