// "input.plt": the converted model as a Tecplot ASCII data file, one zone of
// triangles (FETRIANGLE) in point packing with the variables X, Y and Z, so
// that the boundary-element mesh can be looked at in a viewer.
#pragma once

namespace writing {

// Writes the whole file on channel 8 from the mesh store.
void write_mesh_view();

}  // namespace writing
